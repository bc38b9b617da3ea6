// Wall-clock times as text in UTC, for log lines and reports.
#pragma once

#include <chrono>
#include <string>

namespace qelvo::tools {

// `time` in UTC through strftime's `format` (whole seconds), e.g. "%Y-%m-%dT%H:%M:%SZ".
std::string formatUtc(std::chrono::system_clock::time_point time, const char* format);

}  // namespace qelvo::tools
