#include "secure/release_claims.h"

#include <algorithm>
#include <array>
#include <ctime>

#include "base/base64.h"
#include "platform/json.h"

namespace qelvo {
namespace {

using json::Json;

constexpr std::array<std::string_view, 5> kClaimKeys = {"app", "snapshot", "sequence", "created",
                                                        "expires"};

// URL-safe Base64, padded or not, as standard Base64 text.
std::string standardBase64(std::string_view text) {
  std::string standard(text);
  std::replace(standard.begin(), standard.end(), '-', '+');
  std::replace(standard.begin(), standard.end(), '_', '/');
  if (standard.size() % 4 != 0) standard.append(4 - standard.size() % 4, '=');
  return standard;
}

std::string utcText(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  char text[32] = "";
  if (gmtime_r(&time, &parts)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace

std::expected<std::optional<ReleaseClaims>, std::string> readReleaseClaims(
    std::string_view protectedHeader) {
  auto text = base64Decode(standardBase64(protectedHeader));
  if (!text) return std::nullopt;
  auto document = json::parse(*text);
  if (!document || !document->is_object()) return std::nullopt;
  const bool any = std::any_of(kClaimKeys.begin(), kClaimKeys.end(), [&](std::string_view key) {
    return document->contains(key);
  });
  if (!any) return std::nullopt;

  auto incomplete = [](std::string_view key) {
    return std::unexpected("The release claims lack a valid \"" + std::string(key) + "\"");
  };
  ReleaseClaims claims;
  auto app = json::required<std::string>(*document, "app", "");
  if (!app) return incomplete("app");
  claims.app = std::move(*app);
  auto snapshot = json::required<std::string>(*document, "snapshot", "");
  if (!snapshot) return incomplete("snapshot");
  claims.snapshot = std::move(*snapshot);
  auto sequence = json::required<std::int64_t>(*document, "sequence", "");
  if (!sequence) return incomplete("sequence");
  claims.sequence = *sequence;
  auto created = json::required<std::int64_t>(*document, "created", "");
  if (!created) return incomplete("created");
  claims.created = *created;
  auto expires = json::optional<std::int64_t>(*document, "expires", "");
  if (!expires) return incomplete("expires");
  claims.expires = *expires;
  return claims;
}

std::optional<std::string> claimsRefusal(const std::optional<ReleaseClaims>& claims,
                                         const ClaimExpectations& expected) {
  if (!claims) {
    if (expected.required) return "The signed manifest carries no release claims, which are required";
    if (expected.highestAccepted) {
      return "The signed manifest carries no release claims, and releases of " + expected.app +
             " with claims were accepted before";
    }
    return std::nullopt;
  }
  if (claims->app != expected.app) {
    return "The signed release is for app " + claims->app + ", not " + expected.app;
  }
  if (claims->snapshot != expected.snapshot) {
    return "The signed release is snapshot " + claims->snapshot + ", not the offered " +
           expected.snapshot;
  }
  if (expected.highestAccepted && claims->sequence < *expected.highestAccepted) {
    return "The signed release has sequence " + std::to_string(claims->sequence) +
           ", older than " + std::to_string(*expected.highestAccepted) + ", the newest accepted";
  }
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       expected.now.time_since_epoch())
                       .count();
  if (claims->expires && *claims->expires <= now) {
    return "The signed release expired at " + utcText(*claims->expires);
  }
  return std::nullopt;
}

}  // namespace qelvo
