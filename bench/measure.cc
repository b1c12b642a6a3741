// Runs one command with its standard input from a file and prints its wall
// time and user time in seconds and its peak resident memory in KiB. Forking
// from this small process, not from the benchmark script, keeps the script's
// own memory out of the child's peak.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure STDIN-FILE COMMAND [ARG...]\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(argv[1], O_RDONLY);
    int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 2;
  std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  double user = static_cast<double>(usage.ru_utime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
  std::printf("%.6f %.6f %ld\n", wall.count(), user, usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
