#include "deploy_server/access_log.h"

#include <cstdio>
#include <ctime>

namespace qelvo::deploy {
namespace {

std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string timestamp(std::chrono::system_clock::time_point time) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%d/%b/%Y:%H:%M:%S +0000", &utc);
  return text;
}

}  // namespace

std::string accessLogLine(const AccessRecord& record) {
  return printable(record.remoteAddress) + " - - [" + timestamp(record.time) + "] \"" +
         printable(record.method) + " " + printable(record.target) + " " +
         printable(record.version) + "\" " + std::to_string(record.status) + " " +
         std::to_string(record.bytes);
}

}  // namespace qelvo::deploy
