// Left-overs of interrupted syncs. A sync killed half-way (a crash, a power cut, the
// host process ended) leaves download files and staging directories in the temporary
// directory and archives in application directories; nothing else would ever remove
// them. Every sync holds a shared lease on the temporary directory while it runs, and
// the sync that finds no other lease held anywhere (in any process) first clears what
// earlier ones left.
//
//   auto lease = WorkAreaLease::acquire(platform::temporaryDirectory(), cacheRoot);
//   ... the sync ...            // the lease ends with `lease`
//
//   StagingMark mark(temporaryDirectory, snapshotId);  // tmp/{snapshotId} is ours
#pragma once

#include <expected>
#include <filesystem>
#include <string>

#include "qelvo/errors.h"
#include "base/unique_fd.h"

namespace qelvo {

class WorkAreaLease {
 public:
  // Never fails: without a lock on the temporary directory the sync runs as before,
  // only without clearing left-overs.
  static WorkAreaLease acquire(const std::filesystem::path& temporaryDirectory,
                               const std::filesystem::path& cacheRoot);

 private:
  explicit WorkAreaLease(UniqueFd lock) : lock_(std::move(lock)) {}
  UniqueFd lock_;  // the temporary directory, with a shared flock held on it
};

// Removes `item` (file or directory, with everything below it) so that it disappears
// from its place in one step: it is renamed into `temporaryDirectory` first and removed
// there, so an interruption never leaves it half deleted in place (the rest goes with
// the next sweep). Where no rename is possible (another filesystem) it is removed in
// place. An item that is already gone counts as removed.
std::expected<void, PlatformError> removeInOneStep(const std::filesystem::path& item,
                                                   const std::filesystem::path& temporaryDirectory);

// Marks tmp/{name} as a staging directory while the mark lives, so that a sweep after an
// interruption knows it for one (and leaves the host's own files in tmp alone).
class StagingMark {
 public:
  StagingMark(const std::filesystem::path& temporaryDirectory, const std::string& name);
  ~StagingMark();
  StagingMark(const StagingMark&) = delete;
  StagingMark& operator=(const StagingMark&) = delete;

 private:
  std::filesystem::path mark_;
};

}  // namespace qelvo
