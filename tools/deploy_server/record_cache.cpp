#include "deploy_server/record_cache.h"

#include <sys/stat.h>

#include <mutex>
#include <optional>

namespace qelvo::deploy {
namespace {

using publishing::ChannelRecord;
using publishing::DeployRoot;
using publishing::RootError;
using publishing::SnapshotRecord;

// A cache without bounds would grow with every name a client asks about.
constexpr std::size_t kMaxEntries = 100000;

std::optional<RecordCache::Identity> identityOf(const std::filesystem::path& file) {
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) return std::nullopt;
  return RecordCache::Identity{
      static_cast<unsigned long long>(status.st_dev),
      static_cast<unsigned long long>(status.st_ino),
      static_cast<unsigned long long>(status.st_size),
      status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec,
      status.st_ctim.tv_sec * 1000000000LL + status.st_ctim.tv_nsec,
  };
}

}  // namespace

template <class T, class Read>
std::expected<T, RootError> RecordCache::lookup(const std::filesystem::path& file, Read read,
                                                bool immutable) const {
  const auto key = file.string();
  if (immutable) {
    std::shared_lock lock(mutex_);
    auto found = entries_.find(key);
    if (found != entries_.end()) {
      if (const auto* record = std::get_if<T>(&found->second.record)) return *record;
    }
  }
  auto before = identityOf(file);
  if (before) {
    std::shared_lock lock(mutex_);
    auto found = entries_.find(key);
    if (found != entries_.end() && found->second.identity == *before) {
      if (const auto* record = std::get_if<T>(&found->second.record)) return *record;
    }
  }
  auto record = read();
  std::unique_lock lock(mutex_);
  ++reads_;
  if (!record || !before || identityOf(file) != before) {
    entries_.erase(key);
    return record;
  }
  if (entries_.size() >= kMaxEntries) entries_.clear();
  entries_.insert_or_assign(key, Entry{*before, *record});
  return record;
}

std::expected<ChannelRecord, RootError> RecordCache::channel(const std::string& app,
                                                             const std::string& channel) const {
  if (!DeployRoot::isValidName(app) || !DeployRoot::isValidName(channel)) {
    return root_.readChannel(app, channel);  // refused by name, without touching the disk
  }
  return lookup<ChannelRecord>(root_.channelFile(app, channel),
                               [&] { return root_.readChannel(app, channel); }, false);
}

std::expected<SnapshotRecord, RootError> RecordCache::snapshot(const std::string& app,
                                                               const std::string& id) const {
  if (!DeployRoot::isValidName(app) || !DeployRoot::isValidName(id)) {
    return root_.readSnapshot(app, id);
  }
  return lookup<SnapshotRecord>(
      root_.snapshotDirectory(app, id) / publishing::kSnapshotRecordName,
      [&] { return root_.readSnapshot(app, id); }, true);
}

std::size_t RecordCache::reads() const {
  std::shared_lock lock(mutex_);
  return reads_;
}

}  // namespace qelvo::deploy
