// Retry-After: how long a deploy service that refuses a request for now (429 Too Many
// Requests, 503 Service Unavailable) asks the device to wait before it asks again. A
// fleet that honours it lets an overloaded service recover instead of retrying into it.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <optional>
#include <string_view>

namespace qelvo {

// The longest wait a Retry-After is read as: far beyond any real one, and small enough
// that a caller may add it to the current time without overflow.
inline constexpr std::chrono::seconds kLongestRetryAfter{0x7fffffff};

// The wait a Retry-After value asks for, from `now` (when the answer arrived): its
// delta-seconds ("120"), or the time from `now` to its HTTP-date (any of the three forms
// HTTP allows; 0 once it has passed); at most kLongestRetryAfter. None for any other text.
std::optional<std::chrono::seconds> parseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now);

// The wait the last response of `easy` asks for in its Retry-After header, read as it
// arrives; none without a readable one.
std::optional<std::chrono::seconds> retryAfterOf(CURL* easy);

}  // namespace qelvo
