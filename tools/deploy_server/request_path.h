// The parts of a request path below the server's prefix, each percent-decoded on its
// own: "/apps/my%2Fapp/x" gives {"apps", "my/app", "x"}, so an encoded "/" stays
// inside its part (where the name checks refuse it) instead of adding a level.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelvo::deploy {

// The decoded parts of `target` (a request target as sent, query allowed) after
// `prefix` ("" or "/path", without a trailing "/"); none when the path does not begin
// with the prefix followed by "/".
std::optional<std::vector<std::string>> pathParts(std::string_view target, std::string_view prefix);

}  // namespace qelvo::deploy
