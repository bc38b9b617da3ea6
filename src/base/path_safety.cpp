#include "base/path_safety.h"

#include "base/text.h"

namespace qelvo {

bool isSafePathComponent(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::optional<std::vector<std::string>> hrefParts(std::string_view href) {
  if (href.find('\0') != std::string_view::npos) return std::nullopt;
  std::vector<std::string> parts;
  for (const auto& part : splitNonEmpty(href, '/')) {
    if (part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
    } else {
      parts.push_back(part);
    }
  }
  if (parts.empty()) return std::nullopt;
  return parts;
}

bool isSafeRelativePath(std::string_view href) { return hrefParts(href).has_value(); }

std::optional<std::string> resolvedHref(std::string_view href) {
  auto parts = hrefParts(href);
  if (!parts) return std::nullopt;
  std::string path;
  for (const auto& part : *parts) {
    if (!path.empty()) path += '/';
    path += part;
  }
  return path;
}

}  // namespace qelvo
