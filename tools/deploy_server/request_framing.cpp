#include "deploy_server/request_framing.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

namespace qelvo::deploy {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The end of the head (just past its empty line), accepting bare LF line ends too.
std::optional<std::size_t> headEnd(std::string_view received) {
  for (std::size_t at = received.find('\n'); at != std::string_view::npos;
       at = received.find('\n', at + 1)) {
    if (at + 1 < received.size() && received[at + 1] == '\n') return at + 2;
    if (at + 2 < received.size() && received[at + 1] == '\r' && received[at + 2] == '\n') {
      return at + 3;
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> parseLength(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

}  // namespace

std::size_t leadingEmptyLines(std::string_view received) {
  std::size_t at = 0;
  while (at < received.size() && (received[at] == '\r' || received[at] == '\n')) ++at;
  return at;
}

Framing frameRequest(std::string_view received, const FramingLimits& limits) {
  auto end = headEnd(received.substr(0, limits.maxHead + 1));
  if (!end) {
    return {received.size() > limits.maxHead ? FramingState::headTooLarge
                                             : FramingState::incomplete};
  }
  if (*end > limits.maxHead) return {FramingState::headTooLarge};
  std::optional<std::size_t> bodyLength;
  bool expectsContinue = false;
  std::string_view head = received.substr(0, *end);
  head.remove_prefix(std::min(head.size(), head.find('\n') + 1));  // the request line
  while (!head.empty()) {
    auto lineEnd = head.find('\n');
    std::string_view line = head.substr(0, lineEnd);
    head.remove_prefix(lineEnd == std::string_view::npos ? head.size() : lineEnd + 1);
    auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    auto name = line.substr(0, colon);
    auto value = trimmed(line.substr(colon + 1));
    if (equalsIgnoringCase(name, "Transfer-Encoding")) return {FramingState::lengthRequired};
    if (equalsIgnoringCase(name, "Expect")) expectsContinue = equalsIgnoringCase(value, "100-continue");
    if (!equalsIgnoringCase(name, "Content-Length")) continue;
    auto length = parseLength(value);
    if (!length || (bodyLength && *bodyLength != *length)) return {FramingState::malformed};
    bodyLength = length;
  }
  std::size_t body = bodyLength.value_or(0);
  if (body > limits.maxBody) return {FramingState::bodyTooLarge};
  if (received.size() < *end + body) {
    return {FramingState::incomplete, 0, expectsContinue};
  }
  return {FramingState::complete, *end + body, false};
}

}  // namespace qelvo::deploy
