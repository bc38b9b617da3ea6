// RecordCache: the channel and snapshot records of a deploy root, kept in memory while
// their files stay the same. A channel lookup costs one stat of the channel's file; the
// file is read and decoded again only when its identity (inode, size, change times)
// moved. A snapshot never changes once published and its id is never reused (its files
// are served as immutable for the same reason), so its record, once read, is kept
// without looking at the disk again.
// Publishers replace records by renaming whole files over them (atomic_write.h), so a
// record read is always a whole file, old or new; a record that changed while it was
// being read is returned but not kept, so the cache never holds a stale record under a
// fresh identity. Safe to use from any number of threads.
//
//   RecordCache records(DeployRoot("/srv/deploy"));
//   auto channel = records.channel("kiosk", "production");   // read once, then from memory
#pragma once

#include <expected>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <variant>

#include "publishing/deploy_root.h"

namespace qelvo::deploy {

class RecordCache {
 public:
  explicit RecordCache(publishing::DeployRoot root) : root_(std::move(root)) {}

  const publishing::DeployRoot& root() const { return root_; }

  std::expected<publishing::ChannelRecord, publishing::RootError> channel(
      const std::string& app, const std::string& channel) const;
  std::expected<publishing::SnapshotRecord, publishing::RootError> snapshot(
      const std::string& app, const std::string& id) const;

  // How many records were read from disk so far (each change costs one read).
  std::size_t reads() const;

  // What identifies one version of a file.
  struct Identity {
    unsigned long long device = 0, inode = 0, size = 0;
    long long modifiedNs = 0, changedNs = 0;
    friend bool operator==(const Identity&, const Identity&) = default;
  };

 private:
  using Record = std::variant<publishing::ChannelRecord, publishing::SnapshotRecord>;
  struct Entry {
    Identity identity;
    Record record;
  };

  template <class T, class Read>
  std::expected<T, publishing::RootError> lookup(const std::filesystem::path& file, Read read,
                                                 bool immutable) const;

  publishing::DeployRoot root_;
  mutable std::shared_mutex mutex_;
  mutable std::unordered_map<std::string, Entry> entries_;
  mutable std::size_t reads_ = 0;
};

}  // namespace qelvo::deploy
