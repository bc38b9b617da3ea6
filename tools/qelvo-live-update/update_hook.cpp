#include "update_hook.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;

namespace qelvo::cli {
namespace {

// The process's environment without the hook's own names, then those names.
std::vector<std::string> hookEnvironment(const std::string& appId,
                                         const std::optional<std::string>& snapshotId,
                                         const std::optional<std::filesystem::path>& directory) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string_view text(*entry);
    if (text.starts_with("QELVO_APP_ID=") || text.starts_with("QELVO_SNAPSHOT=") ||
        text.starts_with("QELVO_DIRECTORY=")) {
      continue;
    }
    entries.emplace_back(text);
  }
  entries.push_back("QELVO_APP_ID=" + appId);
  entries.push_back("QELVO_SNAPSHOT=" + snapshotId.value_or(""));
  entries.push_back("QELVO_DIRECTORY=" + (directory ? directory->string() : std::string()));
  return entries;
}

}  // namespace

int runUpdateHook(const std::string& command, const std::string& appId,
                  const std::optional<std::string>& snapshotId,
                  const std::optional<std::filesystem::path>& directory) {
  auto environment = hookEnvironment(appId, snapshotId, directory);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string shell = "/bin/sh", flag = "-c", text = command;
  char* argv[] = {shell.data(), flag.data(), text.data(), nullptr};

  // The command gets the signal dispositions and mask of a fresh process, not the
  // blocked stop signals and ignored SIGPIPE of `watch`.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGTERM, SIGINT, SIGPIPE}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

  pid_t pid = 0;
  int spawned = posix_spawn(&pid, shell.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qelvo::cli
