// A program running in the background for a test, its standard output and error in one
// file; stopped with SIGTERM (then SIGKILL) when the object goes away, if it has not
// been stopped before.
//
//   BackgroundProcess server({"/usr/sbin/nginx", "-c", conf}, dir / "nginx.log");
//   ASSERT_TRUE(server.waitForOutput("listening"));
//   EXPECT_EQ(server.stop(), 0);
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace qelvo::test {

class BackgroundProcess {
 public:
  // Starts argv[0] (a path, or a name found on PATH) with standard input from /dev/null.
  // A built program's command line comes from builtProgramCommand.
  BackgroundProcess(const std::vector<std::string>& argv, const std::filesystem::path& output);
  ~BackgroundProcess() { stop(); }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  bool running();
  std::string output() const;
  // Waits until the output holds `text` (or the program ends, or `timeout` passes).
  bool waitForOutput(const std::string& text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Sends `signal`, waits up to 5 s for the program to end, then kills it. Its exit
  // status, 128 + the signal that ended it, or -1 (not running, or killed here).
  int stop(int signal = SIGTERM);

 private:
  // Reaps the program if it has ended; true when it has (its status kept).
  bool reap(int options);

  pid_t pid_ = -1;
  int status_ = -1;
  std::filesystem::path output_;
};

}  // namespace qelvo::test
