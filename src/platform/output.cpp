#include "platform/output.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace qelvo::platform {

void printLine(std::string_view line) {
  static std::mutex* mutex = new std::mutex;  // never destroyed: detached tasks may print late
  std::string text(line);
  text += '\n';
  std::lock_guard lock(*mutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace qelvo::platform
