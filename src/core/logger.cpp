#include "core/logger.h"

#include "platform/output.h"

namespace qelvo {

void QelvoLogger::log(const std::string& tag, const std::string& message) const {
  if (enabled_) platform::printLine(tag + " - " + message);
}

}  // namespace qelvo
