#include "base/timing.h"

#include <charconv>
#include <chrono>

namespace qelvo {

double secondsSince1970() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string formatSeconds(double seconds) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, seconds);
  std::string text(buffer, ec == std::errc() ? end : buffer);
  if (text.find_first_of(".en") == std::string::npos) text += ".0";
  return text;
}

std::string elapsedSince(double start) { return formatSeconds(secondsSince1970() - start); }

}  // namespace qelvo
