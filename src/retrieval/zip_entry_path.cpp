#include "retrieval/zip_entry_path.h"

namespace qelvo {

std::string EntryPath::joined() const {
  std::string text;
  for (const auto& component : components) {
    if (!text.empty()) text += '/';
    text += component;
  }
  return text;
}

std::expected<EntryPath, std::string> entryPathOf(std::string_view name) {
  if (name.empty()) return std::unexpected("its name is empty");
  if (name.front() == '/') return std::unexpected("its path is absolute");
  if (name.find('\\') != std::string_view::npos) {
    return std::unexpected("its name contains a backslash");
  }
  if (name.find('\0') != std::string_view::npos) {
    return std::unexpected("its name contains a NUL character");
  }

  EntryPath path;
  path.isDirectory = name.back() == '/';
  while (!name.empty()) {
    auto end = name.find('/');
    auto component = name.substr(0, end);
    name = end == std::string_view::npos ? std::string_view() : name.substr(end + 1);
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (path.components.empty()) return std::unexpected("its path leaves the destination");
      path.components.pop_back();
      continue;
    }
    path.components.emplace_back(component);
  }
  if (path.components.empty() && !path.isDirectory) {
    return std::unexpected("its path names the destination itself");
  }
  return path;
}

}  // namespace qelvo
