#include "client/percent_encoding.h"

#include <curl/curl.h>

#include <cctype>
#include <climits>

#include "client/curl_handles.h"

namespace qelvo {
namespace {

bool isUnreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isSubDelimiter(unsigned char c) {
  return c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' ||
         c == '+' || c == ',' || c == ';' || c == '=';
}

bool isPathCharacter(unsigned char c) {
  return isUnreserved(c) || isSubDelimiter(c) || c == ':' || c == '@';
}

// Checks every character with `allowed`, and that each "%" starts a %XX sequence.
template <class Allowed>
bool isEncoded(std::string_view text, Allowed allowed) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      if (!std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
          !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        return false;
      i += 2;
    } else if (!allowed(c)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string percentEncodeComponent(std::string_view text) {
  // "." and ".." would be read as dot segments and removed, taking the component away.
  if (text == ".") return "%2E";
  if (text == "..") return "%2E%2E";
  std::string encoded;
  // libcurl takes an int length; encode very long input in pieces.
  constexpr std::size_t kPiece = 1 << 20;
  for (std::size_t offset = 0; offset < text.size(); offset += kPiece) {
    auto piece = text.substr(offset, kPiece);
    encoded +=
        curl::takeString(curl_easy_escape(nullptr, piece.data(), static_cast<int>(piece.size())));
  }
  return encoded;
}

std::string percentEncodePath(std::string_view path) {
  std::string encoded;
  std::size_t start = 0;
  while (true) {
    auto slash = path.find('/', start);
    encoded += percentEncodeComponent(path.substr(start, slash - start));
    if (slash == std::string_view::npos) break;
    encoded += '/';
    start = slash + 1;
  }
  return encoded;
}

std::string percentDecode(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return std::string(text);
  int length = 0;
  char* decoded = curl_easy_unescape(nullptr, text.data(), static_cast<int>(text.size()), &length);
  if (!decoded) return std::string(text);
  std::string result(decoded, static_cast<std::size_t>(length));
  curl_free(decoded);
  return result;
}

bool isEncodedPath(std::string_view path) {
  return isEncoded(path, [](unsigned char c) { return isPathCharacter(c) || c == '/'; });
}

bool isEncodedQueryPart(std::string_view text, bool isName) {
  return isEncoded(text, [isName](unsigned char c) {
    if (c == '&' || (isName && c == '=')) return false;
    return isPathCharacter(c) || c == '/' || c == '?';
  });
}

}  // namespace qelvo
