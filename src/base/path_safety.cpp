#include "base/path_safety.h"

namespace qelvo {

bool isSafePathComponent(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool isSafeRelativePath(std::string_view href) {
  if (href.empty() || href.front() == '/' || href.find('\0') != std::string_view::npos) {
    return false;
  }
  int depth = 0;
  bool sawSegment = false;
  std::size_t start = 0;
  while (start <= href.size()) {
    auto end = href.find('/', start);
    if (end == std::string_view::npos) end = href.size();
    auto segment = href.substr(start, end - start);
    if (segment == "..") {
      if (--depth < 0) return false;
    } else if (!segment.empty() && segment != ".") {
      ++depth;
      sawSegment = true;
    }
    start = end + 1;
  }
  return sawSegment && depth > 0;
}

}  // namespace qelvo
