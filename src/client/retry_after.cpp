#include "client/retry_after.h"

#include <algorithm>
#include <cctype>

#include "client/curl_handles.h"

namespace qelvo {
namespace {

std::string_view trimmed(std::string_view text) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now) {
  value = trimmed(value);
  if (value.empty()) return std::nullopt;
  if (std::all_of(value.begin(), value.end(), isDigit)) {
    std::int64_t seconds = 0;
    for (char digit : value) {
      seconds = std::min<std::int64_t>(seconds * 10 + (digit - '0'), kLongestRetryAfter.count());
    }
    return std::chrono::seconds(seconds);
  }
  // Every form of HTTP-date starts with the day's name; libcurl reads all three of them
  // (and more, which is why anything that does not start like one is refused first).
  if (!std::isalpha(static_cast<unsigned char>(value.front()))) return std::nullopt;
  const std::string text(value);
  const time_t date = curl_getdate(text.c_str(), nullptr);
  if (date == -1) return std::nullopt;
  // In seconds: a date centuries ahead does not fit the clock's own resolution.
  const auto wait = std::chrono::seconds(date) -
                    std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch());
  return std::clamp(wait, std::chrono::seconds(0), kLongestRetryAfter);
}

std::optional<std::chrono::seconds> retryAfterOf(CURL* easy) {
  auto value = curl::responseHeader(easy, "Retry-After");
  if (!value) return std::nullopt;
  return parseRetryAfter(*value, std::chrono::system_clock::now());
}

}  // namespace qelvo
