// Checks on names that come from outside (application ids from the host, snapshot
// ids and hrefs from the deploy service) before they become paths.
#pragma once

#include <string_view>

namespace qelvo {

// True when `name` can be one path component: not empty, not "." or "..", and without
// "/" or NUL.
bool isSafePathComponent(std::string_view name);

// True when `href` is a relative path that stays inside its root: not absolute, no NUL,
// no ".." segment that climbs above the root, and at least one real segment.
bool isSafeRelativePath(std::string_view href);

}  // namespace qelvo
