#include "publishing/channel_moves.h"

#include <algorithm>

namespace qelvo::publishing {
namespace {

// Enough history for any rollback a person would make; keeps the record small.
constexpr std::size_t kHistoryLength = 50;

std::expected<void, std::string> requireSnapshot(const DeployRoot& root, const std::string& app,
                                                 const std::string& id) {
  if (auto snapshot = root.readSnapshot(app, id); !snapshot) {
    return std::unexpected(snapshot.error().kind == RootError::Kind::missing
                               ? "App " + app + " has no snapshot " + id
                               : snapshot.error().message);
  }
  return {};
}

std::expected<ChannelRecord, std::string> readExisting(const DeployRoot& root,
                                                       const std::string& app,
                                                       const std::string& channel) {
  auto current = root.readChannel(app, channel);
  if (current) return std::move(*current);
  return std::unexpected(current.error().kind == RootError::Kind::missing
                             ? "App " + app + " has no channel " + channel
                             : current.error().message);
}

std::expected<void, std::string> checkPercent(int percent) {
  if (percent < 0 || percent > 100) {
    return std::unexpected("The rollout percent must lie in 0...100, not " +
                           std::to_string(percent));
  }
  return {};
}

std::expected<ChannelRecord, std::string> write(const DeployRoot& root, const std::string& app,
                                                const std::string& channel, ChannelRecord record) {
  if (record.previous.size() > kHistoryLength) record.previous.resize(kHistoryLength);
  if (auto written = root.writeChannel(app, channel, record); !written) {
    return std::unexpected(written.error());
  }
  return record;
}

}  // namespace

std::expected<ChannelRecord, std::string> moveChannel(const DeployRoot& root, const AppLock&,
                                                      const std::string& app,
                                                      const std::string& channel,
                                                      const std::string& snapshotId) {
  if (!DeployRoot::isValidName(channel)) return std::unexpected("Invalid channel name: " + channel);
  if (auto exists = requireSnapshot(root, app, snapshotId); !exists) {
    return std::unexpected(exists.error());
  }
  auto current = root.readChannel(app, channel);
  if (!current && current.error().kind == RootError::Kind::invalid) {
    return std::unexpected(current.error().message);  // keep a history we cannot read
  }
  ChannelRecord record{snapshotId, {}};
  if (current) {
    record.previous = current->previous;
    if (current->snapshot != snapshotId) {
      record.previous.insert(record.previous.begin(), current->snapshot);
    }
  }
  return write(root, app, channel, std::move(record));
}

std::expected<ChannelRecord, std::string> startRollout(const DeployRoot& root,
                                                       const AppLock& lock,
                                                       const std::string& app,
                                                       const std::string& channel,
                                                       const std::string& snapshotId,
                                                       int percent) {
  if (auto valid = checkPercent(percent); !valid) return std::unexpected(valid.error());
  if (percent == 100) return moveChannel(root, lock, app, channel, snapshotId);
  if (auto exists = requireSnapshot(root, app, snapshotId); !exists) {
    return std::unexpected(exists.error());
  }
  auto current = readExisting(root, app, channel);
  if (!current) {
    return std::unexpected(current.error() +
                           ": a rollout needs a snapshot for the other devices to keep");
  }
  if (current->snapshot == snapshotId) {
    return std::unexpected("Channel " + channel + " already serves " + snapshotId);
  }
  current->rollout = Rollout{snapshotId, percent};
  return write(root, app, channel, std::move(*current));
}

std::expected<ChannelRecord, std::string> widenRollout(const DeployRoot& root, const AppLock& lock,
                                                       const std::string& app,
                                                       const std::string& channel, int percent) {
  if (auto valid = checkPercent(percent); !valid) return std::unexpected(valid.error());
  auto current = readExisting(root, app, channel);
  if (!current) return std::unexpected(current.error());
  if (!current->rollout) return std::unexpected("Channel " + channel + " has no rollout");
  if (percent == 100) return moveChannel(root, lock, app, channel, current->rollout->snapshot);
  current->rollout->percent = percent;
  return write(root, app, channel, std::move(*current));
}

std::expected<ChannelRecord, std::string> rollbackRecord(const DeployRoot& root,
                                                         const std::string& app,
                                                         const std::string& channel,
                                                         const std::optional<std::string>& to) {
  auto current = readExisting(root, app, channel);
  if (!current) return std::unexpected(current.error());
  if (current->rollout && !to) {
    return ChannelRecord{current->snapshot, current->previous, std::nullopt};
  }
  auto& history = current->previous;
  auto target = to ? std::find(history.begin(), history.end(), *to) : history.begin();
  if (target == history.end()) {
    if (!to) return std::unexpected("Channel " + channel + " has no earlier snapshot");
    // Outside the history: an ordinary move, which remembers what was served.
    if (auto exists = requireSnapshot(root, app, *to); !exists) {
      return std::unexpected(exists.error());
    }
    history.insert(history.begin(), current->snapshot);
    return ChannelRecord{*to, std::move(history), std::nullopt};
  }
  if (auto exists = requireSnapshot(root, app, *target); !exists) {
    return std::unexpected(exists.error());
  }
  return ChannelRecord{*target, std::vector<std::string>(std::next(target), history.end()),
                       std::nullopt};
}

std::expected<ChannelRecord, std::string> rollbackChannel(
    const DeployRoot& root, const AppLock&, const std::string& app, const std::string& channel,
    const std::optional<std::string>& to, const std::optional<std::string>& releasedAs) {
  auto record = rollbackRecord(root, app, channel, to);
  if (!record) return record;
  if (releasedAs) {
    if (auto exists = requireSnapshot(root, app, *releasedAs); !exists) {
      return std::unexpected(exists.error());
    }
    record->snapshot = *releasedAs;
  }
  return write(root, app, channel, std::move(*record));
}

}  // namespace qelvo::publishing
