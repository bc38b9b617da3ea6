// What the launch guard stores for one application, next to its record in the same
// suite: the latest launch attempt, the last confirmed snapshot and the failed ones.
// Key "LiveUpdateLaunch-<appId>", value the record's UTF-8 JSON:
//
//   {"attempt":{"id":"7C1…","snapshot":"snap-2","started":7.5e8,"status":"started",
//               "unconfirmed_launches":2},
//    "confirmed_snapshot":"snap-1",
//    "failed":[{"snapshot":"snap-0","failed_at":7.4e8,"reason":"…"}]}
//
// "snapshot" and "confirmed_snapshot" are left out when absent (the embedded copy, or
// nothing confirmed yet); dates are seconds since 2001-01-01 00:00:00 UTC, as in the
// application records. Decoding is strict, like theirs.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "qelvo/errors.h"
#include "qelvo/launch.h"

namespace qelvo {

struct LaunchRecord {
  std::optional<LaunchState::Attempt> attempt;  // the latest
  std::optional<std::string> confirmedSnapshot;
  std::vector<FailedSnapshot> failed;  // oldest first, at most kMaxFailedSnapshots

  // At most this many failed snapshots are remembered (the oldest go first): a deploy
  // service offers recent snapshots, so a mark years old protects nothing, while an
  // unbounded list would grow with every bad release for the life of the device.
  static constexpr std::size_t kMaxFailedSnapshots = 64;

  // Nothing recorded: the state of an app whose host never used the guard.
  bool empty() const { return !attempt && !confirmedSnapshot && failed.empty(); }
  // The failure of `snapshotId`, or null.
  const FailedSnapshot* failure(const std::string& snapshotId) const;

  friend bool operator==(const LaunchRecord&, const LaunchRecord&) = default;
};

// "LiveUpdateLaunch-" followed by the id, unchanged.
std::string launchKey(const std::string& appId);

// Fails when a string is not valid UTF-8.
std::expected<std::string, EncodingError> encodeLaunch(const LaunchRecord& record);
std::expected<LaunchRecord, DecodingError> decodeLaunch(std::string_view json);

}  // namespace qelvo
