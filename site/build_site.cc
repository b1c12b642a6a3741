#include "site/build_site.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "platform/output.h"
#include "platform/text.h"

namespace {

// `path` below `folder`, with this system's separator between the parts.
std::string Below(const std::string& folder, const std::string& path) {
  std::string full = folder;
  while (full.size() > 1 && IsSeparator(full.back())) full.pop_back();
  if (!full.empty() && !IsSeparator(full.back())) full += kSeparator;
  for (char c : path) full += c == '/' ? kSeparator : c;
  return full;
}

void Collect(const std::string& folder, const std::string& rel,
             bool (*skip)(const std::string&, bool, const void*),
             const void* data, std::vector<std::string>* paths,
             Unreadable* unreadable) {
  std::vector<std::string> names;
  const std::string here = rel.empty() ? folder : Below(folder, rel);
  if (!ListFolder(here, &names)) {
    unreadable->push_back({rel, errno});
    return;
  }
  for (const std::string& name : names) {
    if (name.empty() || name[0] == '.') continue;
    std::string path = rel.empty() ? name : rel + "/" + name;
    std::string full = Below(folder, path);
    bool link = false;
    PathKind kind = KindOfPath(full, &link);
    bool isFolder = kind == PathKind::kFolder;
    if ((isFolder && link) || skip(full, isFolder, data)) continue;
    if (isFolder) {
      Collect(folder, path, skip, data, paths, unreadable);
    } else {
      paths->push_back(path);
    }
  }
}

// What a folder's walk leaves out: the template, and the output folder.
struct Excluded {
  std::string templ;
  std::string out;
};

bool SkipExcluded(const std::string& full, bool folder, const void* data) {
  const auto& excluded = *static_cast<const Excluded*>(data);
  const std::string& match = folder ? excluded.out : excluded.templ;
  return !match.empty() && FullPath(full) == match;
}

// True when `path` lies in `folder` or is it (both full paths).
bool Within(const std::string& path, const std::string& folder) {
  if (path.empty() || folder.empty()) return false;
  if (path == folder) return true;
  std::string head = folder;
  if (!IsSeparator(head.back())) head += kSeparator;
  return path.compare(0, head.size(), head) == 0;
}

// Shows how far a long build is, on standard error when it is a terminal.
class Progress {
 public:
  explicit Progress(std::size_t count)
      : count_(count), shown_(count > 100 && ErrorIsTerminal()) {}
  ~Progress() {
    if (shown_) ShowProgress("");
  }
  void At(std::size_t done, const std::string& name) {
    if (!shown_) return;
    ShowProgress(std::to_string(done) + "/" + std::to_string(count_) + " " +
                 ShownName(name));
  }

 private:
  std::size_t count_;
  bool shown_;
};

// The outputs below the key `folder` (with its separator at the end) that
// an input leads to or the run could not look below.
bool Kept(const MergeRun& run, const std::string& folder) {
  auto led = run.ledTo.lower_bound(folder);
  if (led != run.ledTo.end() && led->compare(0, folder.size(), folder) == 0) {
    return true;
  }
  for (const std::string& kept : run.unlooked) {
    if (kept.compare(0, folder.size(), folder) == 0 ||
        folder.compare(0, kept.size(), kept) == 0) {
      return true;
    }
  }
  return false;
}

// Removes (or in a check names) `full`, saying so; false when it fails.
bool Remove(const MergeRun& run, const std::string& full, bool folder) {
  if (run.mode.checkOnly) {
    run.Say("Would remove " + ShownName(full));
    return true;
  }
  if (!RemovePath(full, folder)) {
    run.SayFailure("Could not remove ", full, ErrorText(errno));
    return false;
  }
  WriteLine("Removed " + ShownName(full));
  return true;
}

// Removes what is stale in the output folder below `rel`; *empty says
// whether the folder is left (or in a check would be left) empty.
bool RemoveBelow(const MergeRun& run, const std::string& root,
                 const std::string& rel, bool* empty) {
  std::vector<std::string> names;
  const std::string here = rel.empty() ? root : Below(root, rel);
  *empty = false;
  if (!ListFolder(here, &names)) {
    run.SayFailure("Could not read ", here, ErrorText(errno));
    return false;
  }
  std::sort(names.begin(), names.end());
  bool ok = true;
  std::size_t left = names.size();
  for (const std::string& name : names) {
    if (name[0] == '.') continue;
    std::string path = rel.empty() ? name : rel + "/" + name;
    std::string full = Below(root, path);
    std::string key = OutputKey(run, full);
    bool link = false;
    bool folder = KindOfPath(full, &link) == PathKind::kFolder && !link;
    if (!folder) {
      if (run.ledTo.count(key) != 0) continue;
      bool removed = Remove(run, full, false);
      ok &= removed;
      left -= removed;
      continue;
    }
    bool nowEmpty = false;
    ok &= RemoveBelow(run, root, path, &nowEmpty);
    if (!nowEmpty || Kept(run, key + kSeparator)) continue;
    bool removed = Remove(run, full, true);
    ok &= removed;
    left -= removed;
  }
  *empty = left == 0;
  return ok;
}

}  // namespace

bool IsPageName(const std::string& name) {
  auto endsWith = [&name](std::string_view end) {
    if (name.size() < end.size()) return false;
    for (std::size_t i = 0; i < end.size(); ++i) {
      char c = name[name.size() - end.size() + i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != end[i]) return false;
    }
    return true;
  };
  return endsWith(".html") || endsWith(".htm");
}

std::vector<std::string> ListSite(
    const std::string& folder,
    bool (*skip)(const std::string& full, bool folder, const void* data),
    const void* data, Unreadable* unreadable) {
  std::vector<std::string> paths;
  Collect(folder, "", skip, data, &paths, unreadable);
  std::sort(paths.begin(), paths.end());
  return paths;
}

MergeOutcome MergeInput(MergeRun& run, const std::string& templateName,
                        const std::string& name,
                        const FileIdentity* alsoReading) {
  if (!run.outDir.empty() && KindOfPath(name) == PathKind::kFolder) {
    return BuildFolder(run, templateName, name);
  }
  OutputPlan plan = PlanOutput(run, name);
  if (!run.outDir.empty() && plan.inside) {
    run.ledTo.insert(OutputKey(run, plan.name));
  }
  return MergeFile(run, templateName, name, alsoReading, &plan);
}

MergeOutcome BuildFolder(MergeRun& run, const std::string& templateName,
                         const std::string& folder) {
  Excluded excluded{FullPath(templateName), FullPath(OutFolder(run))};
  Unreadable unreadable;
  std::vector<std::string> paths =
      ListSite(folder, SkipExcluded, &excluded, &unreadable);
  bool allWritten = true;
  for (const auto& [rel, error] : unreadable) {
    const std::string name = rel.empty() ? folder : Below(folder, rel);
    run.SayFailure("Could not read ", name, ErrorText(error));
    if (rel.empty()) return MergeOutcome::kNotOpened;
    run.unlooked.insert(OutputKey(run, PlanOutputBelow(run, rel).name) +
                        kSeparator);
    allWritten = false;
  }
  Progress progress(paths.size());
  BeginOutputGroup();
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (run.atMenu && ConsoleGone()) break;
    const std::string input = Below(folder, paths[i]);
    progress.At(i, input);
    OutputPlan plan = PlanOutputBelow(run, paths[i]);
    run.ledTo.insert(OutputKey(run, plan.name));
    MergeOutcome outcome =
        IsPageName(paths[i]) ? MergeFile(run, templateName, input, nullptr, &plan)
                             : CopyFile(run, input, plan);
    allWritten &= outcome == MergeOutcome::kWritten;
  }
  allWritten &= EndOutputGroup();
  allWritten &= run.SayUnwritten();
  return allWritten ? MergeOutcome::kWritten : MergeOutcome::kNotWritten;
}

bool RemoveStale(MergeRun& run) {
  const std::string root = OutFolder(run);
  if (KindOfPath(root) != PathKind::kFolder) return true;
  bool empty = false;
  return RemoveBelow(run, root, "", &empty);
}

std::string DeleteRefused(const MergeRun& run, const std::string& templateName,
                          const std::vector<std::string>& folders) {
  const std::string out = FullPath(OutFolder(run));
  if (out.empty()) return "";  // not made yet: it holds nothing
  if (out == FullPath(".")) {
    return "--delete would remove files of the current folder";
  }
  if (Within(FullPath(templateName), out)) {
    return "--delete would remove the template, which lies in " +
           OutFolder(run);
  }
  for (const std::string& folder : folders) {
    if (Within(FullPath(folder), out)) {
      return "--delete would remove files of " + folder + ", which lies in " +
             OutFolder(run);
    }
  }
  return "";
}
