// Percent-encoding of URL parts (RFC 3986), on top of libcurl's escaping.
#pragma once

#include <string>
#include <string_view>

namespace qelvo {

// Encodes every byte except the unreserved characters, "/" included: one path
// component or one query value. "." and ".." are encoded too, so that they stay a
// component instead of being read as dot segments.
std::string percentEncodeComponent(std::string_view text);

// Encodes a plain path: each "/"-separated segment as a component, the "/" kept (empty
// segments too, so "a//b" stays "a//b").
std::string percentEncodePath(std::string_view path);

// Decodes %XX sequences; other bytes are kept.
std::string percentDecode(std::string_view text);

// Whether `path` may stand as the path of a URL as it is: only characters allowed in a
// path, and "%" only before two hex digits.
bool isEncodedPath(std::string_view path);

// Whether `text` may stand as the name (`isName`) or value of a query item as it is.
bool isEncodedQueryPart(std::string_view text, bool isName);

}  // namespace qelvo
