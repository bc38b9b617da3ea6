// Checks on names that come from outside (application ids from the host, snapshot
// ids and hrefs from the deploy service) before they become paths.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelvo {

// True when `name` can be one path component: not empty, not "." or "..", and without
// "/" or NUL.
bool isSafePathComponent(std::string_view name);

// The parts of `href` as a path inside its root: its non-empty parts ("/" between them,
// a leading "/" included, names nothing), "." parts dropped and each ".." taking the
// part before it away. None when `href` holds NUL, when a ".." would climb above the
// root, or when no part is left.
std::optional<std::vector<std::string>> hrefParts(std::string_view href);

// True when `hrefParts` finds `href` a path inside its root.
bool isSafeRelativePath(std::string_view href);

// `href` as a path relative to its root ("a/b.js"), or none as `hrefParts` says.
std::optional<std::string> resolvedHref(std::string_view href);

}  // namespace qelvo
