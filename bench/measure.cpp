// qelvo_bench_measure: runs one command and reports what it cost, for bench/run.
//
//   qelvo_bench_measure [--stdout FILE] -- COMMAND [ARGS...]
//
// prints one line "<exit status> <wall seconds> <peak RSS KiB> <peak threads> <KiB written>":
// the peak resident set is that of the command and the children it waited for
// (getrusage), the threads the largest number seen at once in the command's whole
// process tree, sampled every millisecond, and the file data the command and its
// children wrote towards the disk (getrusage's block output, counted when a page is
// dirtied; a hard link or a shared block writes none).
//
// The command is started from this small, freshly executed program rather than from
// the harness: Linux charges a new image with the peak resident set of the process it
// was spawned from, and an interpreter would inflate every figure.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The children of every thread of `pid`.
std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> children;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* directory = ::opendir(tasks.c_str());
  if (!directory) return children;
  while (dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + entry->d_name + "/children");
    for (pid_t child; in >> child;) children.push_back(child);
  }
  ::closedir(directory);
  return children;
}

int threadsOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return 0;
}

int threadsInTree(pid_t root) {
  int total = 0;
  std::vector<pid_t> pending{root};
  while (!pending.empty()) {
    pid_t pid = pending.back();
    pending.pop_back();
    total += threadsOf(pid);
    for (pid_t child : childrenOf(pid)) pending.push_back(child);
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const char* output = nullptr;
  if (first + 1 < argc && std::strcmp(argv[first], "--stdout") == 0) {
    output = argv[first + 1];
    first += 2;
  }
  if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
  if (first >= argc) {
    std::fprintf(stderr, "usage: qelvo_bench_measure [--stdout FILE] -- COMMAND [ARGS...]\n");
    return 2;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output ? output : "/dev/null",
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (int error = posix_spawnp(&pid, argv[first], &actions, nullptr, argv + first, environ)) {
    std::fprintf(stderr, "qelvo_bench_measure: cannot start %s: %s\n", argv[first],
                 std::strerror(error));
    return 127;
  }
  std::atomic<bool> done{false};
  std::atomic<int> peakThreads{0};
  std::thread sampler([&] {
    while (!done.load()) {
      int threads = threadsInTree(pid);
      if (threads > peakThreads.load()) peakThreads.store(threads);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  done = true;
  sampler.join();
  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%d %.6f %ld %d %ld\n", exitStatus, seconds, usage.ru_maxrss, peakThreads.load(),
              usage.ru_oublock / 2);
  return 0;
}
