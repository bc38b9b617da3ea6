#include "common/utc_time.h"

#include <ctime>

namespace qelvo::tools {

std::string formatUtc(std::chrono::system_clock::time_point time, const char* format) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  auto length = std::strftime(text, sizeof text, format, &utc);
  return std::string(text, length);
}

}  // namespace qelvo::tools
