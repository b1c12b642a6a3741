#include "site/build_site.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
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
             bool (*skip)(const std::string&, const FileIdentity&, bool,
                          const void*),
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
    FileIdentity id;
    PathKind kind = KindOfPath(full, &link, &id);
    bool isFolder = kind == PathKind::kFolder;
    if ((isFolder && link) || skip(full, id, isFolder, data)) continue;
    if (isFolder) {
      Collect(folder, path, skip, data, paths, unreadable);
    } else {
      paths->push_back(path);
    }
  }
}

// What a folder's walk leaves out: the template, and the output folder,
// by their identities, or by their full paths where a folder has none.
struct Excluded {
  FileIdentity templ;
  FileIdentity out;
  std::string outPath;
};

Excluded ExcludedOf(const MergeRun& run, const std::string& templateName) {
  Excluded excluded;
  KindOfPath(templateName, nullptr, &excluded.templ);
  KindOfPath(OutFolder(run), nullptr, &excluded.out);
  if (!excluded.out.known) excluded.outPath = FullPath(OutFolder(run));
  return excluded;
}

bool SkipExcluded(const std::string& full, const FileIdentity& id, bool folder,
                  const void* data) {
  const auto& excluded = *static_cast<const Excluded*>(data);
  const FileIdentity& match = folder ? excluded.out : excluded.templ;
  if (match.known) {
    return id.known && id.device == match.device && id.index == match.index;
  }
  return folder && !excluded.outPath.empty() &&
         FullPath(full) == excluded.outPath;
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

// One input of a folder's build: its console lines are held until those of
// the inputs before it are out. A worker marks it done as it goes, and
// wakes the thread that says the lines once a run of jobs is done, not
// for every job: a thread woken for each small file costs more than the
// file.
struct Job {
  std::string input;
  OutputPlan plan;
  bool page = false;
  ConsoleCapture console;
  MergeOutcome outcome = MergeOutcome::kNotWritten;
  MergeTally tally;  // what this input added
  std::atomic<bool> done{false};
};

void DoJob(MergeRun& run, const std::string& templateName, Job& job) {
  MergeTally before = run.tally;
  job.outcome =
      job.page ? MergeFile(run, templateName, job.input, nullptr, &job.plan)
               : CopyFile(run, job.input, job.plan);
  job.tally.pages = run.tally.pages - before.pages;
  job.tally.lostContent = run.tally.lostContent - before.lostContent;
  job.tally.warned = run.tally.warned - before.warned;
}

// The jobs shared by the workers of a build, and the next one to take. A
// worker takes a run of jobs at a time: neighbours in the order of the
// paths share a folder, whose entries the system changes one at a time.
struct JobQueue {
  std::vector<Job>* jobs;
  std::size_t next = 1;
  std::size_t run = 1;   // jobs taken at once
  unsigned working = 0;  // workers not yet ended
  std::mutex lock;
  std::condition_variable finished;
};

// A worker: takes jobs in turn, each with its console lines held. A job is
// handed over once the worker has taken the next one, or, after its last,
// once the worker's group of pages is on the disk, so that what the group
// says goes with it.
void Work(const MergeRun& settings, const std::string& templateName,
          JobQueue* queue) {
  HoldStopSignals();
  MergeRun run = settings;
  run.tally = MergeTally();
  BeginOutputGroup();
  Job* held = nullptr;
  std::size_t at = 0, end = 0;  // the run of jobs taken
  for (;;) {
    Job* job = nullptr;
    bool newRun = false;
    {
      std::lock_guard<std::mutex> guard(queue->lock);
      if (at == end && queue->next < queue->jobs->size()) {
        at = queue->next;
        end = std::min(queue->jobs->size(), at + queue->run);
        queue->next = end;
        newRun = true;
      }
      if (at < end && !(run.atMenu && ConsoleGone())) {
        job = &(*queue->jobs)[at++];
      }
    }
    if (job == nullptr) break;
    if (held != nullptr) {
      held->done.store(true, std::memory_order_release);
      if (newRun) {
        std::lock_guard<std::mutex> guard(queue->lock);
        queue->finished.notify_all();
      }
    }
    CaptureConsole(&job->console);
    DoJob(run, templateName, *job);
    CaptureConsole(nullptr);
    held = job;
  }
  if (held != nullptr) CaptureConsole(&held->console);
  bool written = EndOutputGroup();
  written &= run.SayUnwritten();
  CaptureConsole(nullptr);
  std::lock_guard<std::mutex> guard(queue->lock);
  if (held != nullptr) {
    if (!written) held->outcome = MergeOutcome::kNotWritten;
    held->done.store(true, std::memory_order_release);
  }
  --queue->working;
  queue->finished.notify_all();
}

// Runs the jobs in order, on as many workers as the run asks for, and says
// what each said in the order of the jobs. True when all were written.
bool RunJobs(MergeRun& run, const std::string& templateName,
             std::vector<Job>* jobs, Progress* progress) {
  unsigned workers = run.jobs > 0 ? static_cast<unsigned>(run.jobs)
                                  : std::thread::hardware_concurrency();
  if (!PARALLEL_WRITES || workers == 0) workers = 1;
  workers = static_cast<unsigned>(
      std::min<std::size_t>(workers, jobs->empty() ? 1 : jobs->size() - 1));
  bool allWritten = true;
  BeginOutputGroup();
  if (workers <= 1) {
    for (std::size_t i = 0; i < jobs->size(); ++i) {
      if (run.atMenu && ConsoleGone()) break;
      progress->At(i, (*jobs)[i].input);
      DoJob(run, templateName, (*jobs)[i]);
      allWritten &= (*jobs)[i].outcome == MergeOutcome::kWritten;
    }
    allWritten &= EndOutputGroup();
    return allWritten && run.SayUnwritten();
  }
  // The first job runs here, before any worker: what a run sets up once
  // (a template's warning, what the system is asked once) is then in place.
  progress->At(0, jobs->front().input);
  DoJob(run, templateName, jobs->front());
  allWritten &= jobs->front().outcome == MergeOutcome::kWritten;
  allWritten &= EndOutputGroup();
  allWritten &= run.SayUnwritten();
  JobQueue queue;
  queue.jobs = jobs;
  queue.run = std::max<std::size_t>(1, jobs->size() / (8 * workers));
  queue.working = workers;
  // Each worker's run starts as this one, the claimed outputs shared.
  std::map<std::string, std::string> claimed = std::move(run.outputs);
  std::set<std::string> ledTo = std::move(run.ledTo);
  run.outputs.clear();
  run.ledTo.clear();
  MergeRun settings = run;
  settings.claimed = &claimed;
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < workers; ++i) {
    threads.emplace_back(Work, std::cref(settings), std::cref(templateName),
                         &queue);
  }
  for (std::size_t i = 1; i < jobs->size(); ++i) {
    Job& job = (*jobs)[i];
    {
      std::unique_lock<std::mutex> guard(queue.lock);
      queue.finished.wait(guard, [&] {
        return job.done.load(std::memory_order_acquire) || queue.working == 0;
      });
      if (!job.done.load(std::memory_order_acquire)) break;
    }
    progress->At(i, job.input);
    ReplayConsole(&job.console);
    run.tally.pages += job.tally.pages;
    run.tally.lostContent += job.tally.lostContent;
    run.tally.warned += job.tally.warned;
    allWritten &= job.outcome == MergeOutcome::kWritten;
  }
  for (std::thread& thread : threads) thread.join();
  run.outputs = std::move(claimed);
  run.ledTo = std::move(ledTo);
  return allWritten;
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

std::vector<std::string> ListSite(const std::string& folder,
                                  bool (*skip)(const std::string& full,
                                               const FileIdentity& id,
                                               bool folder, const void* data),
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
  Excluded excluded = ExcludedOf(run, templateName);
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
  std::vector<Job> jobs(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    jobs[i].input = Below(folder, paths[i]);
    jobs[i].plan = PlanOutputBelow(run, paths[i]);
    jobs[i].page = IsPageName(paths[i]);
    // The first input of an output claims it, whichever worker is first.
    std::string key = OutputKey(run, jobs[i].plan.name);
    run.ledTo.insert(key);
    run.outputs.emplace(key, jobs[i].input);
  }
  Progress progress(jobs.size());
  allWritten &= RunJobs(run, templateName, &jobs, &progress);
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
