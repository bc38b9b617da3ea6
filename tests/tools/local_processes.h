// Programs and ports of tests that run servers as processes of their own on loopback
// (nginx, deploy server instances).
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qelvo::test {

// A port on 127.0.0.1 that nothing listens on right now.
int freePort();
// Whether something accepts connections on 127.0.0.1:`port`.
bool accepts(int port);
// The first executable named `name` on PATH or in the system directories.
std::optional<std::string> findProgram(const std::string& name);

// A program running in the background, its output in files; stopped with SIGTERM (then
// SIGKILL) when the object goes away, if it has not been stopped before.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::filesystem::path& output);
  ~Child() { stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool running() const;
  std::string output() const;
  // Waits until the output holds `text` (or the program ends, or 10 s pass).
  bool waitForOutput(const std::string& text) const;
  void stop(int signal = SIGTERM);

 private:
  pid_t pid_ = -1;
  std::filesystem::path output_;
};

}  // namespace qelvo::test
