// What a secure manager verified, per application, under "LiveUpdateVerified-<appId>" in
// the manager's own suite:
//
//   {"highest_sequence": 42,
//    "snapshots": {"<snapshot id>": {"fingerprint": "sha256-…", "sequence": 42}}}
//
// Each snapshot's fingerprint is taken right after it was verified (a cached snapshot is
// only served again while its directory still has it), with the release sequence its
// signed claims gave, if any; "highest_sequence" is the highest sequence ever applied,
// and only grows.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/key_value_store.h"

namespace qelvo {

struct VerifiedSnapshot {
  std::string fingerprint;
  std::optional<std::int64_t> sequence;
};

struct VerifiedRecord {
  std::optional<std::int64_t> highestSequence;
  std::map<std::string, VerifiedSnapshot> snapshots;
};

// The record of `appId`; empty when there is none or it does not decode (then every
// snapshot is verified again: nothing is served on a guess). Failures are printed.
VerifiedRecord verifiedRecord(const KeyValueSuite& store, const std::string& appId);

// Records `snapshot` as `snapshotId` (raising the highest sequence to its own), and
// forgets the snapshots not in `kept` (the application's record no longer knows them),
// in one transaction. Failures are printed.
void recordVerifiedSnapshot(KeyValueSuite& store, const std::string& appId,
                            const std::string& snapshotId, const VerifiedSnapshot& snapshot,
                            const std::set<std::string>& kept);

}  // namespace qelvo
