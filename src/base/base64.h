// Standard Base64 (RFC 4648 alphabet, "=" padding), strict in what it accepts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qelvo {

std::string base64Encode(std::string_view bytes);

// The bytes encoded by `text`; none unless `text` is canonical padded Base64: a
// multiple of four characters from the alphabet, "=" only as the final one or two,
// unused bits zero. Whitespace and line breaks are refused like any other character.
std::optional<std::string> base64Decode(std::string_view text);

}  // namespace qelvo
