// Small text helpers shared by the subsystems.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qelvo {

// The non-empty pieces of `text` between `separator` characters.
inline std::vector<std::string> splitNonEmpty(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

}  // namespace qelvo
