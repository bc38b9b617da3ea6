#include "deploy_server/request_path.h"

#include "toolkit/toolkit.h"

namespace qelvo::deploy {

std::optional<std::vector<std::string>> pathParts(std::string_view target,
                                                  std::string_view prefix) {
  std::string_view path = target.substr(0, target.find_first_of("?#"));
  if (!path.starts_with(prefix)) return std::nullopt;
  path.remove_prefix(prefix.size());
  if (!path.starts_with('/')) return std::nullopt;
  path.remove_prefix(1);
  std::vector<std::string> parts;
  while (true) {
    auto slash = path.find('/');
    parts.push_back(percentDecode(path.substr(0, slash)));
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return parts;
}

}  // namespace qelvo::deploy
