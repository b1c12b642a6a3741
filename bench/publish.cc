// Publishes a tree as a site build does, without merging anything: each file
// is read, written to a temporary file beside its output and renamed over
// it, by several threads taking runs of neighbouring files. Durable (the
// default), each thread flushes its files a group of 1,024 at a time with
// one flush of the file system before their renames, and the folders the
// renames went into after them. This is the floor of a durable build: what
// the system calls of that promise cost, with no page looked at.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRun = 256;     // neighbouring files a thread takes
constexpr std::size_t kGroup = 1024;  // files flushed together

struct Waiting {
  std::string temp, output;
};

bool Copy(const std::string& from, const std::string& to) {
  static thread_local std::vector<char> block(128 * 1024);
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
  bool ok = in >= 0 && out >= 0;
  for (ssize_t got; ok && (got = read(in, block.data(), block.size())) > 0;) {
    ok = write(out, block.data(), static_cast<std::size_t>(got)) == got;
  }
  if (in >= 0) close(in);
  if (out >= 0) ok &= close(out) == 0;
  return ok;
}

bool Commit(std::vector<Waiting>* group, int root, bool durable) {
  bool ok = !durable || syncfs(root) == 0;
  std::set<std::string> folders;
  for (const Waiting& file : *group) {
    ok &= rename(file.temp.c_str(), file.output.c_str()) == 0;
    folders.insert(file.output.substr(0, file.output.rfind('/')));
  }
  for (const std::string& folder : folders) {
    if (!durable) break;
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok &= fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
  }
  group->clear();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool durable = argc < 2 || std::strcmp(argv[1], "--no-sync") != 0;
  const int first = durable ? 1 : 2;
  if (argc - first != 3) {
    std::fprintf(stderr, "usage: publish [--no-sync] SOURCE OUTPUT THREADS\n");
    return 2;
  }
  const fs::path source = argv[first], output = argv[first + 1];
  const unsigned threads = static_cast<unsigned>(std::atoi(argv[first + 2]));
  std::vector<std::string> files;
  fs::create_directories(output);
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    const std::string below =
        entry.path().string().substr(source.string().size() + 1);
    if (entry.is_directory()) {
      fs::create_directories(output / below);
    } else {
      files.push_back(below);
    }
  }
  std::sort(files.begin(), files.end());
  int root = open(output.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> ok{root >= 0};
  auto work = [&] {
    std::vector<Waiting> group;
    for (std::size_t at; (at = next.fetch_add(kRun)) < files.size();) {
      for (std::size_t i = at; i < std::min(files.size(), at + kRun); ++i) {
        const std::string out = output.string() + "/" + files[i];
        const std::string temp =
            out.substr(0, out.rfind('/')) + "/.publish-" + std::to_string(i);
        if (!Copy(source.string() + "/" + files[i], temp)) ok = false;
        group.push_back({temp, out});
        if (!durable || group.size() >= kGroup) {
          ok = Commit(&group, root, durable) && ok;
        }
      }
    }
    ok = Commit(&group, root, durable) && ok;
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  return ok ? 0 : 1;
}
