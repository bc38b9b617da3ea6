// One access-log line per request, in the common log format:
//   127.0.0.1 - - [02/Jan/2025:10:00:00 +0000] "GET /apps/kiosk/snapshots/v2/bundle.zip HTTP/1.1"
//   200 51234
// The request target is written as sent; bytes that could disturb a terminal are
// written as \xHH.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qelvo::deploy {

struct AccessRecord {
  std::string remoteAddress;
  std::string method;
  std::string target;
  std::string version;  // "HTTP/1.1"
  int status = 0;
  std::uintmax_t bytes = 0;  // body bytes sent
  std::chrono::system_clock::time_point time;
};

std::string accessLogLine(const AccessRecord& record);

}  // namespace qelvo::deploy
