// Running a program as its own process, as the tests of the tools and of races between
// processes do.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qelvo::test {

// One finished run of a tool.
struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;

  std::vector<std::string> lines() const;
  // The lines of standard output that are JSON objects, parsed.
  std::vector<nlohmann::json> jsonLines() const;
};

// Runs `executable`, one of the built programs, with `args` (stdin from /dev/null) and
// waits for it.
ToolRun runTool(const std::string& executable, const std::vector<std::string>& args);

}  // namespace qelvo::test
