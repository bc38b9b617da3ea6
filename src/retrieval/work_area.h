// Work names and left-overs of syncs. Every sync works in a directory of its own below
// {tmp}/qelvo-work, named by the library (never after anything the deploy service sends):
// its staging tree, its downloaded archive and its temporary files all live there, so
// two syncs never share a name and the host's own files in {tmp} are never touched.
//
// A sync killed half-way (a crash, a power cut, the host process ended) leaves its work
// directory behind; nothing else would ever remove it. Every sync holds a shared lease
// on the work area while it runs, and the sync that finds no other lease held anywhere
// (in any process) first clears what earlier ones left.
//
//   auto lease = WorkAreaLease::acquire(platform::temporaryDirectory(), cacheRoot);
//   auto work = WorkDirectory::reserve(platform::temporaryDirectory());
//   ... the sync, in work.path() ...  // removed with `work`; the lease ends with `lease`
#pragma once

#include <expected>
#include <filesystem>
#include <string>

#include "base/unique_fd.h"
#include "qelvo/errors.h"

namespace qelvo {

// {tmp}/qelvo-work: the library's own directory in the temporary directory.
std::filesystem::path workAreaRoot(const std::filesystem::path& temporaryDirectory);

class WorkAreaLease {
 public:
  // Never fails: without a lock on the work area the sync runs as before, only without
  // clearing left-overs.
  static WorkAreaLease acquire(const std::filesystem::path& temporaryDirectory,
                               const std::filesystem::path& cacheRoot);

 private:
  explicit WorkAreaLease(UniqueFd lock) : lock_(std::move(lock)) {}
  UniqueFd lock_;  // the work area's directory, with a shared flock held on it
};

// One sync's directory in the work area, with a name no other sync has: reserved here,
// made by the first step that writes there (`files::createDirectories`), and removed
// with everything in it when the object goes. A sync that writes nothing never makes it.
class WorkDirectory {
 public:
  static WorkDirectory reserve(const std::filesystem::path& temporaryDirectory);

  WorkDirectory(WorkDirectory&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
  }
  WorkDirectory& operator=(WorkDirectory&&) = delete;
  WorkDirectory(const WorkDirectory&) = delete;
  ~WorkDirectory();

  const std::filesystem::path& path() const { return path_; }

 private:
  explicit WorkDirectory(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
};

// Removes `item` (file or directory, with everything below it) so that it disappears
// from its place in one step: it is renamed into the work area first and removed there,
// so an interruption never leaves it half deleted in place (the rest goes with the next
// sweep). Where no rename is possible (another filesystem) it is removed in place. An
// item that is already gone counts as removed.
std::expected<void, PlatformError> removeInOneStep(const std::filesystem::path& item,
                                                   const std::filesystem::path& temporaryDirectory);

// Puts `item` in the place of `existing` (which must exist) so that the place is never
// empty: the two are exchanged in one step where the filesystem can, and the old one,
// now at `item`'s path, is removed. Elsewhere `existing` is removed in one step first.
std::expected<void, PlatformError> replaceInOneStep(const std::filesystem::path& item,
                                                    const std::filesystem::path& existing,
                                                    const std::filesystem::path& temporaryDirectory);

}  // namespace qelvo
