/// @file
/// The stored metadata of one application: its channels, the snapshots it holds on
/// disk, and the time of its last sync. `Snapshot` is also part of every SyncResult.
///
/// Channels and snapshots compare and hash by `id` alone, so a set holds at most one
/// of each id. Dates are wall-clock times.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_set>

namespace qelvo {

using Date = std::chrono::system_clock::time_point;  ///< a wall-clock time

/// One built web bundle.
struct Snapshot {
  std::string id;  ///< the deploy service's snapshot id
  std::string buildId;  ///< the build number the service gave, as text
  std::string binaryVersion;  ///< the host binary version it was used with last
  Date lastUsed;  ///< when a channel last took it

  friend bool operator==(const Snapshot& a, const Snapshot& b) { return a.id == b.id; }
};

/// Hashes a value by its `id`, as its equality compares it.
struct IdHash {
  template <class T>
  std::size_t operator()(const T& value) const noexcept {  ///< never throws
    return std::hash<std::string>{}(value.id);
  }
};

/// One deploy channel of an application, and the snapshot it currently uses.
struct Channel {
  std::string id;  ///< the channel's name
  std::optional<Snapshot> currentSnapshot;  ///< none before its first snapshot

  friend bool operator==(const Channel& a, const Channel& b) { return a.id == b.id; }
};

/// The stored record of one application.
struct QelWebApp {
  std::string id;  ///< the application id
  std::unordered_set<Channel, IdHash> channels;  ///< the channels it was registered with
  std::unordered_set<Snapshot, IdHash> snapshots;  ///< the snapshots on disk
  std::optional<Date> lastSync;  ///< none before its first sync

  friend bool operator==(const QelWebApp&, const QelWebApp&) = default;
};

}  // namespace qelvo
