// One HTTP request as the library sends it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qelvo/url.h"

namespace qelvo {

struct HttpRequest {
  Url url;
  std::string method = "GET";
  std::vector<std::pair<std::string, std::string>> headers{};
  std::string body{};
  // A transfer that moves less than `minBytesPerSecond` on average over `idleTimeout`
  // fails (and so does one that does not connect within it): a stalled or trickling
  // server cannot hold a sync. One that keeps a real pace is not cut off for its length.
  std::chrono::seconds idleTimeout{60};
  std::uint64_t minBytesPerSecond = 1;
  // A transfer still running at this moment fails, whatever its pace.
  std::optional<std::chrono::steady_clock::time_point> deadline{};
  // Only https, for the request and every redirect it follows.
  bool httpsOnly = false;
  // The largest body accepted; a response that declares or sends more fails the
  // transfer as soon as it does. Absent: only the engine's own cap on bodies kept in
  // memory applies.
  std::optional<std::uint64_t> maxBodyBytes{};
  // Called on the transfer engine's thread as body bytes arrive: the bytes received so
  // far and the length the response declares, if any. Must return quickly.
  std::function<void(std::uint64_t received, std::optional<std::uint64_t> expected)>
      onBodyProgress{};
  // Where a downloaded body is written while it arrives: the directory its move callback
  // will put it in, so that taking it there renames it within one directory (a rename
  // across directories takes a lock that the whole filesystem shares). Absent: the
  // host's temporary directory.
  std::optional<std::filesystem::path> bodyDirectory{};
  // For a download that may be resumed: where its body is kept between attempts (a path
  // the caller chose; "<path>.validator" beside it). What arrived before a cut
  // connection or a killed process stays there, and the next request for the same URL
  // asks only for the rest while the server's validator (ETag or Last-Modified) still
  // matches; a server whose file changed sends it whole. A stopped transfer, or one
  // over its cap, keeps nothing. Absent: the body goes to `bodyDirectory`.
  std::optional<std::filesystem::path> resumeFile{};
};

// Bounds a caller puts on one exchange whose request the client builds itself.
struct ExchangeLimits {
  std::optional<std::uint64_t> maxBodyBytes{};
  std::chrono::seconds idleTimeout{60};
  std::uint64_t minBytesPerSecond = 1;
  std::optional<std::chrono::steady_clock::time_point> deadline{};
  bool httpsOnly = false;  // set by a client whose deploy service is reached over https
};

// Whether an HTTP status means success: 200 to 299 inclusive.
inline bool isSuccessStatus(long statusCode) { return statusCode >= 200 && statusCode <= 299; }

}  // namespace qelvo
