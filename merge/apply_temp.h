// Applying a template page to an input page: the template gives the frame
// (all before its head tag, its body tag, its body around the "####" marker),
// the input gives its head content and its body content.
#ifndef MERGE_APPLY_TEMP_H_
#define MERGE_APPLY_TEMP_H_

#include <cstddef>
#include <map>
#include <set>
#include <string>

#include "merge/landmarks.h"
#include "merge/token_reader.h"
#include "platform/output.h"
#include "platform/system.h"

// The greatest number of characters of an input name that go into the
// output name.
constexpr std::size_t MAXCHARS = 20;

// The output name for an input: the output folder and separator, then the
// first MAXCHARS characters of the name (code points of a UTF-8 name, bytes
// of any other), unchanged.
std::string OutputName(const std::string& inputName);

// Runs the eight merge phases: reads the template and the input forward once
// each, alternating between them, and writes the merged page to `out`. Tags
// and the marker are recognised only as whole words; whatever is not
// recognised is copied or discarded by the phase that meets it. A source
// that runs out leaves the later phases on it with nothing to do. Gives the
// first landmark each page lacked.
Findings MergePages(Source& templ, Source& input, Sink& out);

// How the merges of a run behave, set once before them.
struct MergeMode {
  // Read and report only: no output is created or written, no console line
  // goes to standard output, and failures to open or read are said on
  // standard error.
  bool checkOnly = false;
  // Find tags as browsers do (--html) instead of by the word rules.
  bool html = false;
  // With html: the template is the whole page (--layout).
  bool layout = false;
};

// What the merges of a run found: how many ran, how many lost content, and
// how many others had a warning.
struct MergeTally {
  int pages = 0;
  int lostContent = 0;
  int warned = 0;
  int untouched = 0;  // outputs that already held what was merged
};

// A template kept in memory between the pages of a run, while its file is
// settled, unchanged and small.
struct KeptTemplate {
  std::string name;
  FileState state;
  std::string bytes;
};

// What the merges of one run share, owned by the run: how they behave,
// what they found, the templates already warned about, whose warnings are
// given once a run, and the template kept between pages.
struct MergeRun {
  MergeMode mode;
  MergeTally tally;
  std::set<std::string> templatesWarned;
  KeptTemplate kept;
  // Every failure is also said on standard error with its reason (the
  // command line).
  bool reasons = false;
  // The menu runs the merges: a console that is gone ends a list.
  bool atMenu = false;
  // --out: the folder the site is built into, under the inputs' full names;
  // empty for temb and the names cut short.
  std::string outDir;
  bool quiet = false;       // no line for each page merged or file copied
  int jobs = 1;             // workers for the files of a folder
  bool ignoreCase = false;  // names differing only in case are one output
  // --out: the outputs of the run so far, by their names below outDir (in
  // one case when ignoreCase), and the input that led to each.
  std::map<std::string, std::string> outputs;
  // A worker's run: the outputs, all claimed before the workers began, are
  // looked up here and outputs is left alone.
  const std::map<std::string, std::string>* claimed = nullptr;
  // --out: with the keys of outputs, those of every other output an input
  // of the run leads to, written or not, and of the output folders below
  // which the run could not look.
  std::set<std::string> ledTo;
  std::set<std::string> unlooked;
  std::string foldersReady;  // the last output folder found or made

  // Writes a console line, or in a check the line on standard error after
  // "tembrix: ", so that standard output stays empty.
  void Say(const std::string& line) const;
  // Says `what` ("Could not open " and the like) and the name shown, and,
  // with reasons, the name and `why` on standard error.
  void SayFailure(const char* what, const std::string& name,
                  const std::string& why) const;
  // Says what the group of waiting pages handed back (TakeUnwritten): a
  // page not put in place, and a page in place whose folder could not be
  // flushed to the disk. False when it said anything.
  bool SayUnwritten() const;
};

// Where an input's merged page (or copy) goes.
struct OutputPlan {
  std::string name;
  // False when the name would lie outside the output folder: it is refused.
  bool inside = true;
  // How many folders below the output folder it lies (the links of the
  // layout mode are rebased by as many).
  int depth = 0;
};

// The output for the input `inputName`: temb and the name cut short, or with
// --out the folder and the name, "." and empty parts dropped and ".."
// resolved; an absolute name or one that climbs above the current folder
// lies outside.
OutputPlan PlanOutput(const MergeRun& run, const std::string& inputName);

// With --out: the output folder as given, without separators at its end.
std::string OutFolder(const MergeRun& run);

// With --out: the key of an output among the run's: its name below the
// output folder, in one letter case where case does not tell names apart.
std::string OutputKey(const MergeRun& run, const std::string& outputName);

// How one merge ended.
enum class MergeOutcome {
  kNotOpened,   // the template or the input could not be opened
  kNotWritten,  // the output was refused or could not be written, or a page
                // could not be read to its end: the earlier output stays
  kWritten,     // the output holds the merged page
};

// Merges the template `templateName` with the input `inputName` into the
// output file named by OutputName, telling the user on the console which
// files it opened. Says "Could not open " and the name when the template or
// the input cannot be opened; nothing is written then. After its console
// lines, a warning on standard error for each landmark a page lacked, a
// template's only the first time its name is merged in the run. The other
// failures have console lines of their own, and the earlier output stays as it
// was. The merged page is written to a temporary file that replaces the output
// in one step once it is whole. The output is never one of the files being
// read: the template, the input, or the file `alsoReading` (the list), when
// that is given.
// `plan`, when given, is where the output goes instead of PlanOutput's.
MergeOutcome MergeFile(MergeRun& run, const std::string& templateName,
                       const std::string& inputName,
                       const FileIdentity* alsoReading = nullptr,
                       const OutputPlan* plan = nullptr);

// Copies the file `inputName` byte for byte to the output `plan`, with the
// promises of a merged page: replaced whole, left untouched when unchanged,
// every failure said. The console says "Copied", the input and the output.
MergeOutcome CopyFile(MergeRun& run, const std::string& inputName,
                      const OutputPlan& plan);

// MergeFile for the console commands: false when the template or the input
// could not be opened, true otherwise.
bool ApplyTemp(MergeRun& run, const std::string& templateName,
               const std::string& inputName,
               const FileIdentity* alsoReading = nullptr);

#endif  // MERGE_APPLY_TEMP_H_
