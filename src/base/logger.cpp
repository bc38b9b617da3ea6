#include "base/logger.h"

#include "base/output.h"

namespace qelvo {

void QelvoLogger::log(const std::string& tag, const std::string& message) const {
  if (enabled_) printLine(tag + " - " + message);
}

}  // namespace qelvo
