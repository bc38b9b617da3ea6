#include "base/output.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace qelvo {

void printLine(std::string_view line) {
  // Constant-initialised and trivially destroyed, so printing stays safe during exit.
  static constinit std::mutex mutex;
  std::string text(line);
  text += '\n';
  std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace qelvo
