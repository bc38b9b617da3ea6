// What a secure manager verified: per application, the fingerprint of each snapshot
// directory it verified, taken right after, under "LiveUpdateVerified-<appId>" in the
// manager's own suite ({"<snapshot id>": "<fingerprint>"}). A cached snapshot is only
// served again while its directory still has that fingerprint.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "platform/key_value_store.h"

namespace qelvo {

// The fingerprint recorded for the snapshot; none when it was never recorded.
std::optional<std::string> verifiedFingerprint(const KeyValueSuite& store, const std::string& appId,
                                               const std::string& snapshotId);

// Records the fingerprint of `snapshotId`, and forgets those of snapshots not in `kept`
// (the application's record no longer knows them). Failures are printed.
void recordVerifiedFingerprint(KeyValueSuite& store, const std::string& appId,
                               const std::string& snapshotId, const std::string& fingerprint,
                               const std::set<std::string>& kept);

}  // namespace qelvo
