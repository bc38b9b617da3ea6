// QelvoLogger: prints a manager's progress lines ("<tag> - <message>") to standard
// output when enabled. No levels, no timestamps.
#pragma once

#include <string>

namespace qelvo {

class QelvoLogger {
 public:
  explicit QelvoLogger(bool enabled) : enabled_(enabled) {}

  bool enabled() const { return enabled_; }
  void log(const std::string& tag, const std::string& message) const;

 private:
  bool enabled_;
};

}  // namespace qelvo
