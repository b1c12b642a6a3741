#include "site/build_site.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/output.h"
#include "platform/text.h"
#include "site/build_record.h"

namespace {

// *full becomes `path` below `folder`, with this system's separator
// between the parts; what *full held before is reused.
void SetBelow(const std::string& folder, const std::string& path,
              std::string* full) {
  std::size_t end = folder.size();
  while (end > 1 && IsSeparator(folder[end - 1])) --end;
  full->reserve(end + 1 + path.size());
  full->assign(folder, 0, end);
  if (!full->empty() && !IsSeparator(full->back())) *full += kSeparator;
  const std::size_t start = full->size();
  *full += path;
  if (kSeparator != '/') {
    std::replace(full->begin() + start, full->end(), '/', kSeparator);
  }
}

// `path` below `folder`.
std::string Below(const std::string& folder, const std::string& path) {
  std::string full;
  SetBelow(folder, path, &full);
  return full;
}

// The output of the file at `path`, as the walk found it, below the output
// folder `out`: a walked path has no "." or ".." parts and no empty ones, so
// its output is the same path below `out`.
OutputPlan PlanOfWalked(const std::string& out, const std::string& path) {
  OutputPlan plan;
  plan.name = Below(out, path);
  plan.depth = static_cast<int>(std::count(path.begin(), path.end(), '/'));
  return plan;
}

// Adds the files below `rel` in `folder` to *files, walking its folders,
// or, when `later` is given, naming them there to be walked apart.
void Collect(const std::string& folder, const std::string& rel,
             bool (*skip)(const std::string&, const FileIdentity&, bool,
                          const void*),
             const void* data, const std::string& alsoBelow,
             std::vector<SiteFile>* files, Unreadable* unreadable,
             std::vector<std::string>* later) {
  std::vector<FoundEntry> entries;
  const std::string here = rel.empty() ? folder : Below(folder, rel);
  if (!LookInFolder(here, &entries)) {
    unreadable->push_back({rel, errno});
    return;
  }
  std::string output;  // a file's output, when the walk looks at it too
  for (FoundEntry& entry : entries) {
    if (entry.name.empty() || entry.name[0] == '.') continue;
    std::string path = rel.empty() ? entry.name : rel + "/" + entry.name;
    bool isFolder = entry.kind == PathKind::kFolder;
    if ((isFolder && entry.link) ||
        skip(isFolder ? Below(folder, path) : std::string(), entry.state.id,
             isFolder, data)) {
      continue;
    }
    if (isFolder && later != nullptr) {
      later->push_back(std::move(path));
    } else if (isFolder) {
      Collect(folder, path, skip, data, alsoBelow, files, unreadable, nullptr);
    } else {
      FileState also;
      if (!alsoBelow.empty()) {
        SetBelow(alsoBelow, path, &output);
        also = StateOfFileNear(output);
      }
      files->push_back({std::move(path), entry.state, also});
    }
  }
}

bool ByPath(const SiteFile& a, const SiteFile& b) { return a.path < b.path; }

// Starts a thread running `fn`; false when the system gives no more
// threads, and the caller's own thread must do the work.
template <typename Fn>
bool StartThread(std::vector<std::thread>* threads, Fn&& fn) {
  try {
    threads->emplace_back(std::forward<Fn>(fn));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

// Calls fn(begin, end) for runs of `step` of the numbers below `count`,
// which together are all of them, on up to `threads` threads at once.
template <typename Fn>
void InParallel(std::size_t count, std::size_t step, unsigned threads, Fn fn) {
  const std::size_t runs = (count + step - 1) / step;
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next++) < runs;) {
      fn(i * step, std::min(count, (i + 1) * step));
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < std::min<std::size_t>(threads, runs); ++t) {
    if (!StartThread(&helpers, work)) break;
  }
  work();
  for (std::thread& helper : helpers) helper.join();
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
  auto startsWith = [&folder](const std::string& key) {
    return key.compare(0, folder.size(), folder) == 0;
  };
  auto led = run.ledTo.lower_bound(folder);
  if (led != run.ledTo.end() && startsWith(*led)) return true;
  auto claimed = run.outputs.lower_bound(folder);
  if (claimed != run.outputs.end() && startsWith(claimed->first)) return true;
  for (const std::string& kept : run.unlooked) {
    if (startsWith(kept) || folder.compare(0, kept.size(), kept) == 0) {
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
      if (run.outputs.count(key) != 0 || run.ledTo.count(key) != 0) continue;
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
  // The output's key among the run's: the end of plan.name, or that end in
  // one letter case (folded) where case tells no names apart.
  std::string_view key;
  std::string folded;
  bool claims = false;  // the first input of the run to lead to it
  bool page = false;
  ConsoleCapture console;
  MergeOutcome outcome = MergeOutcome::kNotWritten;
  MergeTally tally;  // what this input added
  // For the record of the build: the states of the input and output as
  // found, when the output was found current and neither had changed for a
  // while before.
  const RecordEntry* passed = nullptr;  // the record's entry it passed by
  bool current = false;
  FileState in, out;
  std::atomic<bool> done{false};
};

// The record's entry of a job as it stands.
RecordEntry EntryOf(const Job& job) {
  return {job.key, job.input, job.plan.depth, job.page, job.in, job.out};
}

std::int64_t NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Says what a merge or copy says of an output that already holds it.
void SayPassed(const MergeRun& run, const Job& job) {
  if (run.quiet) return;
  if (job.page) {
    WriteText("Successfully opened " + ShownName(job.plan.name) +
              " (Output file)");
    WriteLine(" and " + ShownName(job.input) + " (Input file)");
  } else {
    WriteLine("Copied " + ShownName(job.input) + " to " +
              ShownName(job.plan.name));
  }
}

// Passes over a job whose output the record holds as current: its lines
// are held for their turn, and it is done before any worker begins.
void PassIfCurrent(const MergeRun& run, const BuildRecord& record, Job& job,
                   std::size_t* at) {
  const RecordEntry* entry = job.claims ? record.Find(job.key, at) : nullptr;
  if (entry == nullptr) return;
  if (!job.out.known) job.out = StateOfFileNear(job.plan.name);
  if (!BuildRecord::Current(*entry, EntryOf(job))) return;
  CaptureConsole(&job.console);
  SayPassed(run, job);
  CaptureConsole(nullptr);
  job.outcome = MergeOutcome::kWritten;
  job.tally.pages = job.page;
  job.passed = entry;
  job.current = true;
  job.done.store(true, std::memory_order_relaxed);
}

// Merges or copies a job's input; with `recording`, notes whether its output
// was found current.
void DoJob(MergeRun& run, const std::string& templateName, Job& job,
           bool recording) {
  MergeTally before = run.tally;
  const std::int64_t start = NowNanoseconds();
  job.outcome =
      job.page ? MergeFile(run, templateName, job.input, nullptr, &job.plan)
               : CopyFile(run, job.input, job.plan);
  job.tally.pages = run.tally.pages - before.pages;
  job.tally.lostContent = run.tally.lostContent - before.lostContent;
  job.tally.warned = run.tally.warned - before.warned;
  // An output found to hold what was merged, said without a warning, and
  // both files last changed well before they were read: a later change of
  // either shows in its state.
  if (recording && job.outcome == MergeOutcome::kWritten &&
      job.tally.lostContent == 0 && job.tally.warned == 0 &&
      run.tally.untouched > before.untouched) {
    job.in = StateOfFile(job.input);
    job.out = StateOfFile(job.plan.name);
    job.current = job.in.known && job.out.known &&
                  job.in.changed <= start - kSettledNanoseconds &&
                  job.out.changed <= start - kSettledNanoseconds;
  }
}

// The jobs shared by the workers of a build, and the next one to take. A
// worker takes a run of jobs at a time: neighbours in the order of the
// paths share a folder, whose entries the system changes one at a time.
struct JobQueue {
  std::vector<Job>* jobs;
  bool recording = false;
  std::size_t next = 0;
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
          JobQueue* queue, bool worker) {
  if (worker) HoldStopSignals();
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
      // What was done before the workers began is passed over.
      for (;;) {
        while (at < end && (*queue->jobs)[at].done.load()) ++at;
        if (at < end || queue->next >= queue->jobs->size()) break;
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
    DoJob(run, templateName, *job, queue->recording);
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

// The workers a build may have: as the run asks, else one per core.
unsigned WorkersOf(const MergeRun& run) {
  unsigned workers = run.jobs > 0 ? static_cast<unsigned>(run.jobs)
                                  : std::thread::hardware_concurrency();
  return !PARALLEL_WRITES || workers == 0 ? 1 : workers;
}

// Adds what a job did to the run's count.
void Count(MergeRun& run, const Job& job) {
  run.tally.pages += job.tally.pages;
  run.tally.lostContent += job.tally.lostContent;
  run.tally.warned += job.tally.warned;
}

// Runs the jobs not yet done in order, on as many workers as the run asks
// for, and says what each said in the order of the jobs. True when all were
// written.
bool RunJobs(MergeRun& run, const std::string& templateName,
             std::vector<Job>* jobs, bool recording, Progress* progress) {
  // The first page not yet done runs here, before any worker, its lines
  // held for their turn: what a run sets up once (a template's warning,
  // what the system is asked once) is then in place, as the first page of
  // one worker sets it.
  std::size_t first = 0;
  while (first < jobs->size() &&
         ((*jobs)[first].done.load() || !(*jobs)[first].page)) {
    ++first;
  }
  std::size_t left = 0;
  for (const Job& job : *jobs) left += !job.done.load();
  unsigned workers = WorkersOf(run);
  workers = static_cast<unsigned>(std::min<std::size_t>(
      workers, left - (first < jobs->size() && left > 0)));
  bool allWritten = true;
  BeginOutputGroup();
  if (workers <= 1) {
    for (std::size_t i = 0; i < jobs->size(); ++i) {
      Job& job = (*jobs)[i];
      if (run.atMenu && ConsoleGone()) break;
      progress->At(i, job.input);
      if (job.done.load()) {
        ReplayConsole(&job.console);
        Count(run, job);
      } else {
        DoJob(run, templateName, job, recording);
      }
      allWritten &= job.outcome == MergeOutcome::kWritten;
    }
    allWritten &= EndOutputGroup();
    return allWritten && run.SayUnwritten();
  }
  if (first < jobs->size()) {
    Job& opening = (*jobs)[first];
    CaptureConsole(&opening.console);
    DoJob(run, templateName, opening, recording);
    if (!EndOutputGroup() || !run.SayUnwritten()) {
      opening.outcome = MergeOutcome::kNotWritten;
    }
    CaptureConsole(nullptr);
    opening.done.store(true, std::memory_order_relaxed);
  } else {
    allWritten &= EndOutputGroup();
  }
  JobQueue queue;
  queue.jobs = jobs;
  queue.recording = recording;
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
    if (!StartThread(&threads,
                     [&] { Work(settings, templateName, &queue, true); })) {
      std::lock_guard<std::mutex> guard(queue.lock);
      queue.working -= workers - i;
      break;
    }
  }
  // Without a worker, this thread does their work before saying it.
  if (threads.empty()) {
    queue.working = 1;
    Work(settings, templateName, &queue, false);
  }
  for (std::size_t i = 0; i < jobs->size(); ++i) {
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
    if (i != first) Count(run, job);  // the first page counted as it ran
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

std::vector<SiteFile> ListSite(const std::string& folder,
                               bool (*skip)(const std::string& full,
                                            const FileIdentity& id, bool folder,
                                            const void* data),
                               const void* data, Unreadable* unreadable,
                               unsigned threads, const std::string& alsoBelow) {
  std::vector<SiteFile> files;
  std::vector<std::string> below;  // the folders right below, walked apart
  Collect(folder, "", skip, data, alsoBelow, &files, unreadable,
          threads > 1 ? &below : nullptr);
  // Each walked by one of the threads, into a list of its own, sorted
  // there; what could not be read is put together in the order one walk
  // would meet it.
  struct Part {
    std::vector<SiteFile> files;
    Unreadable unreadable;
  };
  std::vector<Part> parts(below.size());
  InParallel(below.size(), 1, threads, [&](std::size_t i, std::size_t) {
    Collect(folder, below[i], skip, data, alsoBelow, &parts[i].files,
            &parts[i].unreadable, nullptr);
    std::sort(parts[i].files.begin(), parts[i].files.end(), ByPath);
  });
  for (const Part& part : parts) {
    unreadable->insert(unreadable->end(), part.unreadable.begin(),
                       part.unreadable.end());
  }
  // The files of a folder lie together in the order of the paths: each
  // part goes in whole, where its first file goes among the files above.
  std::sort(files.begin(), files.end(), ByPath);
  std::vector<SiteFile> sorted;
  sorted.reserve(files.size() + [&] {
    std::size_t count = 0;
    for (const Part& part : parts) count += part.files.size();
    return count;
  }());
  std::sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) {
    return !a.files.empty() &&
           (b.files.empty() || ByPath(a.files.front(), b.files.front()));
  });
  std::size_t at = 0;
  for (Part& part : parts) {
    if (part.files.empty()) continue;
    while (at < files.size() && ByPath(files[at], part.files.front())) {
      sorted.push_back(std::move(files[at++]));
    }
    sorted.insert(sorted.end(), std::make_move_iterator(part.files.begin()),
                  std::make_move_iterator(part.files.end()));
  }
  while (at < files.size()) sorted.push_back(std::move(files[at++]));
  return sorted;
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
  // The record of the last build is read while the folder is walked, and
  // when there is one the walk looks at each output as well.
  BuildRecord record;
  const bool recorded = record.Locate(run, templateName);
  std::vector<std::thread> loader;
  if (recorded && !StartThread(&loader, [&] { record.Read(); })) {
    record.Read();
  }
  const std::string out = OutFolder(run);
  std::vector<SiteFile> files =
      ListSite(folder, SkipExcluded, &excluded, &unreadable, WorkersOf(run),
               recorded ? out : std::string());
  for (std::thread& thread : loader) thread.join();
  bool allWritten = true;
  for (const auto& [rel, error] : unreadable) {
    const std::string name = rel.empty() ? folder : Below(folder, rel);
    run.SayFailure("Could not read ", name, ErrorText(error));
    if (rel.empty()) return MergeOutcome::kNotOpened;
    run.unlooked.insert(OutputKey(run, PlanOfWalked(out, rel).name) +
                        kSeparator);
    allWritten = false;
  }
  std::vector<Job> jobs(files.size());
  // On this thread alone: the workers would only wait for each other's
  // allocations.
  for (std::size_t i = 0; i < files.size(); ++i) {
    Job& job = jobs[i];
    const std::string& path = files[i].path;
    job.input = Below(folder, path);
    job.plan = PlanOfWalked(out, path);
    job.page = IsPageName(path);
    job.in = files[i].state;
    job.out = files[i].also;  // the walk looked at it, where there is a record
    job.key = std::string_view(job.plan.name).substr(out.size());
    if (run.ignoreCase) {
      job.folded = CaseKey(std::string(job.key));
      job.key = job.folded;
    }
    // The first input of an output claims it, whichever worker is first.
    job.claims =
        run.outputs
            .emplace_hint(run.outputs.end(), std::string(job.key), job.input)
            ->second == job.input;
  }
  std::vector<SiteFile>().swap(files);
  if (record.usable()) {
    // In runs of neighbours, whose entries in the record lie together.
    constexpr std::size_t kStep = 512;
    InParallel(jobs.size(), kStep, WorkersOf(run),
               [&](std::size_t begin, std::size_t end) {
                 std::size_t at = 0;
                 for (std::size_t i = begin; i < end; ++i) {
                   PassIfCurrent(run, record, jobs[i], &at);
                 }
               });
  }
  Progress progress(jobs.size());
  allWritten &= RunJobs(run, templateName, &jobs, record.usable(), &progress);
  if (record.usable()) {
    std::size_t found = 0;
    for (const Job& job : jobs) found += job.current && !job.passed;
    record.Reserve(found);
    for (const Job& job : jobs) {
      if (job.passed != nullptr) {
        record.KeepLoaded(*job.passed);
      } else if (job.current) {
        record.Keep(EntryOf(job));
      }
    }
    record.Save(folder);
  }
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
