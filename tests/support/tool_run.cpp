#include "support/tool_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>

#include "support/built_program.h"
#include "support/temp_dir.h"

extern char** environ;

namespace qelvo::test {

std::vector<std::string> ToolRun::lines() const {
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<nlohmann::json> ToolRun::jsonLines() const {
  std::vector<nlohmann::json> objects;
  for (const auto& line : lines()) {
    if (line.starts_with("{")) objects.push_back(nlohmann::json::parse(line));
  }
  return objects;
}

ToolRun runTool(const std::string& executable, const std::vector<std::string>& args) {
  TempDir capture;
  const auto outFile = capture / "out";
  const auto errFile = capture / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> command{executable};
  command.insert(command.end(), args.begin(), args.end());
  command = builtProgramCommand(std::move(command));
  std::vector<char*> argv;
  for (const auto& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot run " + executable);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(outFile), readFile(errFile)};
}

}  // namespace qelvo::test
