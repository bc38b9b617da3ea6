// The stored metadata of one application: its channels, the snapshots it holds on
// disk, and the time of its last sync. `Snapshot` is also part of every SyncResult.
//
// Channels and snapshots compare and hash by `id` alone, so a set holds at most one
// of each id. Dates are wall-clock times.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_set>

namespace qelvo {

using Date = std::chrono::system_clock::time_point;

// One built web bundle.
struct Snapshot {
  std::string id;
  std::string buildId;
  std::string binaryVersion;  // the host binary version it was used with last
  Date lastUsed;

  friend bool operator==(const Snapshot& a, const Snapshot& b) { return a.id == b.id; }
};

struct IdHash {
  template <class T>
  std::size_t operator()(const T& value) const noexcept {
    return std::hash<std::string>{}(value.id);
  }
};

// One deploy channel of an application, and the snapshot it currently uses.
struct Channel {
  std::string id;
  std::optional<Snapshot> currentSnapshot;

  friend bool operator==(const Channel& a, const Channel& b) { return a.id == b.id; }
};

// The stored record of one application.
struct QelWebApp {
  std::string id;
  std::unordered_set<Channel, IdHash> channels;
  std::unordered_set<Snapshot, IdHash> snapshots;
  std::optional<Date> lastSync;

  friend bool operator==(const QelWebApp&, const QelWebApp&) = default;
};

}  // namespace qelvo
