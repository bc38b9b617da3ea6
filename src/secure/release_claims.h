// Release claims: what a signed manifest says it is for, carried in the protected header
// of its signature (which the signature covers), so that a bundle signed for another
// app, another snapshot id, or an older release cannot pass for the one offered.
//
//   protected header = Base64url of
//     {"alg":"RS256","app":"kiosk","snapshot":"5F0C…","sequence":42,
//      "created":1765000000,"expires":1767600000}
//
// "app" and "snapshot" name what was signed; "sequence" only grows from one release of
// the app to the next (the publisher's build number); "created" and the optional
// "expires" are seconds since 1970 (UTC). A header without any of these keys carries no
// claims (a manifest from a publisher that does not write them).
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace qelvo {

struct ReleaseClaims {
  std::string app;
  std::string snapshot;
  std::int64_t sequence = 0;
  std::int64_t created = 0;
  std::optional<std::int64_t> expires;
};

// The claims of a protected header (its Base64url text): none when it carries none (or
// is not a JSON object at all: any header verifies when signed), an error naming what is
// wrong when it carries some but not all, or mistyped.
std::expected<std::optional<ReleaseClaims>, std::string> readReleaseClaims(
    std::string_view protectedHeader);

// What a device knows when it checks a release.
struct ClaimExpectations {
  std::string app;
  std::string snapshot;
  // The highest sequence this manager has accepted for the app, if any.
  std::optional<std::int64_t> highestAccepted;
  std::chrono::system_clock::time_point now;
  // Claims are required even before any claimed release was accepted.
  bool required = false;
};

// Why `claims` do not fit what is expected ("The signed release is for app …"), or none
// when they do. A manifest without claims fits only while no claimed release of the app
// was accepted and claims are not required.
std::optional<std::string> claimsRefusal(const std::optional<ReleaseClaims>& claims,
                                         const ClaimExpectations& expected);

}  // namespace qelvo
