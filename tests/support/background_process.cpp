#include "support/background_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace qelvo::test {

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::filesystem::path& output)
    : output_(output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
}

bool BackgroundProcess::reap(int options) {
  if (pid_ <= 0) return true;
  int status = 0;
  if (::waitpid(pid_, &status, options) != pid_) return false;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status)
                              : (WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1);
  pid_ = -1;
  return true;
}

bool BackgroundProcess::running() { return !reap(WNOHANG); }

std::string BackgroundProcess::output() const { return readFile(output_); }

bool BackgroundProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  for (auto deadline = std::chrono::steady_clock::now() + timeout;
       std::chrono::steady_clock::now() < deadline && running();
       std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    if (output().find(text) != std::string::npos) return true;
  }
  return output().find(text) != std::string::npos;
}

int BackgroundProcess::stop(int signal) {
  if (pid_ <= 0) return status_;
  ::kill(pid_, signal);
  for (int i = 0; i < 500 && !reap(WNOHANG); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    reap(0);
    status_ = -1;
  }
  return status_;
}

}  // namespace qelvo::test
