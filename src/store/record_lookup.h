// Lookups by id in a stored application record.
#pragma once

#include <optional>
#include <string>

#include "qelvo/records.h"

namespace qelvo {

inline std::optional<Channel> findChannel(const QelWebApp& app, const std::string& channelId) {
  auto it = app.channels.find(Channel{channelId, std::nullopt});
  if (it == app.channels.end()) return std::nullopt;
  return *it;
}

inline std::optional<Snapshot> findSnapshot(const QelWebApp& app, const std::string& snapshotId) {
  auto it = app.snapshots.find(Snapshot{snapshotId, {}, {}, {}});
  if (it == app.snapshots.end()) return std::nullopt;
  return *it;
}

}  // namespace qelvo
