// Moving a channel between snapshots. A channel remembers what it served before, most
// recent first, so a rollback needs no snapshot id:
//
//   auto lock = AppLock::acquire(root.appDirectory("kiosk"));
//   moveChannel(root, *lock, "kiosk", "production", "v2");         // serves v2, remembers v1
//   rollbackChannel(root, *lock, "kiosk", "production", std::nullopt);  // serves v1 again
//
// A staged rollout offers a snapshot to a share of the channel's devices first (see
// rollout.h); widening it to 100 makes it the channel's snapshot:
//
//   startRollout(root, *lock, "kiosk", "production", "v3", 10);   // v3 to 10%, v2 to the rest
//   widenRollout(root, *lock, "kiosk", "production", 50);         // v3 to half of them
//   widenRollout(root, *lock, "kiosk", "production", 100);        // serves v3, remembers v2
//
// How rollouts meet the other moves:
// - a move (a publish without a rollout) ends a rollout in progress: the new snapshot
//   goes to every device, and only the snapshot that every device had enters the history;
// - a second rollout replaces the first: the snapshot under trial changes, the channel's
//   snapshot stays. Devices that had the first one and fall outside the new share are
//   offered the channel's snapshot again (a device applies it from its cache);
// - a rollback during a rollout withdraws the snapshot under trial and keeps the
//   channel's snapshot and history; a rollback with `to` also ends the rollout.
//
// All take the app's lock as proof that no other publisher changes the app meanwhile.
#pragma once

#include <expected>
#include <optional>
#include <string>

#include "publishing/app_lock.h"
#include "publishing/deploy_root.h"

namespace qelvo::publishing {

// Points the channel (created when missing) at the existing snapshot `snapshotId`.
// The record written, or why nothing was written.
[[nodiscard]] std::expected<ChannelRecord, std::string> moveChannel(const DeployRoot& root,
                                                                    const AppLock& lock,
                                                                    const std::string& app,
                                                                    const std::string& channel,
                                                                    const std::string& snapshotId);

// Offers the existing snapshot `snapshotId` to `percent` (0 to 100) of the channel's
// devices; the channel must already serve a snapshot to the others. 100 is a move.
[[nodiscard]] std::expected<ChannelRecord, std::string> startRollout(
    const DeployRoot& root, const AppLock& lock, const std::string& app, const std::string& channel,
    const std::string& snapshotId, int percent);

// Changes the share of the channel's rollout; 100 makes its snapshot the channel's.
[[nodiscard]] std::expected<ChannelRecord, std::string> widenRollout(const DeployRoot& root,
                                                                     const AppLock& lock,
                                                                     const std::string& app,
                                                                     const std::string& channel,
                                                                     int percent);

// The record a rollback would write (see `rollbackChannel`), without writing it: its
// `snapshot` is the one the channel goes back to.
[[nodiscard]] std::expected<ChannelRecord, std::string> rollbackRecord(
    const DeployRoot& root, const std::string& app, const std::string& channel,
    const std::optional<std::string>& to);

// Points the channel back at the snapshot it served before the current one, or at
// `to`. Going back to a snapshot of the channel's history forgets the newer ones;
// `to` outside the history is an ordinary move. During a rollout, without `to`, only
// the rollout is withdrawn. With `releasedAs`, the channel serves that snapshot (a new
// release of the same files, signed again) in the place of the one it goes back to.
[[nodiscard]] std::expected<ChannelRecord, std::string> rollbackChannel(
    const DeployRoot& root, const AppLock& lock, const std::string& app, const std::string& channel,
    const std::optional<std::string>& to,
    const std::optional<std::string>& releasedAs = std::nullopt);

}  // namespace qelvo::publishing
