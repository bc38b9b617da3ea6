#include "deploy_server/access_log.h"

#include <cstdio>

#include "common/utc_time.h"

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

}  // namespace

std::string accessLogLine(const AccessRecord& record) {
  return printable(record.remoteAddress) + " - - [" +
         tools::formatUtc(record.time, "%d/%b/%Y:%H:%M:%S +0000") + "] \"" +
         printable(record.method) + " " + printable(record.target) + " " +
         printable(record.version) + "\" " + std::to_string(record.status) + " " +
         std::to_string(record.bytes);
}

}  // namespace qelvo::deploy
