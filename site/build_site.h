// Building a whole site into one folder (--out): a folder given as an input
// is walked, its pages merged and its other files copied, and what no input
// of the run leads to can be removed from the output folder afterwards.
#ifndef SITE_BUILD_SITE_H_
#define SITE_BUILD_SITE_H_

#include <string>
#include <utility>
#include <vector>

#include "merge/apply_temp.h"
#include "platform/system.h"

// True for a name that is merged as a page when a folder is walked: one
// ending in ".html" or ".htm", in any case.
bool IsPageName(const std::string& name);

// Every file below `folder`, by its path below it with '/' between the
// parts, in the byte order of those paths, with its state. Names that begin
// with '.' are left out, files and folders alike, and so are links to folders
// and what `skip` says (given a folder's full name, or "" for a file, its
// identity and whether it is a folder). The folders that could not be read
// go to *unreadable, by their paths below `folder` ("" for itself) and why
// (errno). The folders right below `folder` are walked by up to `threads`
// threads at once. When `alsoBelow` is not empty, each file's namesake below
// it is looked at too.
using Unreadable = std::vector<std::pair<std::string, int>>;
struct SiteFile {
  std::string path;
  FileState state;  // as the walk found it
  FileState also;   // of its namesake below `alsoBelow`
};
std::vector<SiteFile> ListSite(const std::string& folder,
                               bool (*skip)(const std::string& full,
                                            const FileIdentity& id, bool folder,
                                            const void* data),
                               const void* data, Unreadable* unreadable,
                               unsigned threads, const std::string& alsoBelow);

// Merges the input `name` as the commands do: with --out, a folder is
// walked and built (BuildFolder); anything else is merged as a page.
MergeOutcome MergeInput(MergeRun& run, const std::string& templateName,
                        const std::string& name,
                        const FileIdentity* alsoReading = nullptr);

// Builds the folder `folder` into run.outDir: each page below it merged with
// the template, each other file copied, in the order ListSite gives, the
// template itself and the output folder left out. kNotOpened when the
// folder cannot be read at all.
MergeOutcome BuildFolder(MergeRun& run, const std::string& templateName,
                         const std::string& folder);

// Removes every file and folder below run.outDir that no input of the run
// leads to, names beginning with '.' and what cannot be read left as they
// are, saying each removal; a check only says what it would remove. False
// when something could not be removed or read.
bool RemoveStale(MergeRun& run);

// Why --delete must not run, or empty when it may: the output folder is the
// current folder, or holds the template or one of `folders`.
std::string DeleteRefused(const MergeRun& run, const std::string& templateName,
                          const std::vector<std::string>& folders);

#endif  // SITE_BUILD_SITE_H_
