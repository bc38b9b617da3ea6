// Staged rollouts: a channel may offer a new snapshot to a share of its devices only,
// while the others keep being offered the channel's snapshot. Which devices get it
// is a pure function of the device id and the snapshot id, so every server instance
// gives a device the same answer, check after check, without keeping any state:
//
//   bucket = the first 8 bytes of SHA-256(device_id + "\n" + snapshot_id), read as a
//            big-endian unsigned integer, modulo 100
//   the device gets the snapshot when bucket < percent
//
// Widening the share keeps every device that already had the snapshot (its bucket
// stays below the larger percent). The snapshot id is part of the hash, so each new
// snapshot is tried on a different set of devices, not always on the same ones.
#pragma once

#include <string_view>

namespace qelvo::publishing {

// The device's bucket for the snapshot, 0 to 99.
int rolloutBucket(std::string_view deviceId, std::string_view snapshotId);

// Whether the device is among the `percent` (0 to 100) that get the snapshot.
bool receivesRollout(std::string_view deviceId, std::string_view snapshotId, int percent);

}  // namespace qelvo::publishing
