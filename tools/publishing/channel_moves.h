// Moving a channel between snapshots. A channel remembers what it served before, most
// recent first, so a rollback needs no snapshot id:
//
//   auto lock = AppLock::acquire(root.appDirectory("kiosk"));
//   moveChannel(root, *lock, "kiosk", "production", "v2");         // serves v2, remembers v1
//   rollbackChannel(root, *lock, "kiosk", "production", std::nullopt);  // serves v1 again
//
// Both take the app's lock as proof that no other publisher changes the app meanwhile.
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

// Points the channel back at the snapshot it served before the current one, or at
// `to`. Going back to a snapshot of the channel's history forgets the newer ones;
// `to` outside the history is an ordinary move.
[[nodiscard]] std::expected<ChannelRecord, std::string> rollbackChannel(
    const DeployRoot& root, const AppLock& lock, const std::string& app, const std::string& channel,
    const std::optional<std::string>& to);

}  // namespace qelvo::publishing
