#include "retrieval/durability.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/sync_errors.h"
#include "retrieval/file_operation.h"
#include "retrieval/file_system.h"
#include "base/unique_fd.h"

namespace qelvo {
namespace {

using std::filesystem::path;

PlatformError flushError(int error, const path& item) {
  return PlatformError::fromErrno(error, "Could not flush " + files::quoted(item) + " to disk");
}

}  // namespace

std::expected<void, PlatformError> flushDirectory(const path& directory) {
  UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd || ::fsync(fd.get()) != 0) return std::unexpected(flushError(errno, directory));
  return {};
}

std::expected<void, PlatformError> makeDurable(const path& snapshotDirectory,
                                               std::initializer_list<path> changedDirectories) {
  // One syncfs of the snapshot's filesystem rather than an fsync of every file and
  // directory: each fsync commits the filesystem's journal on its own, which made a sync
  // of 2,000 files several times slower, while syncfs writes everything back (data and
  // directory entries) in one commit and reports a failed write-back.
  UniqueFd root(::open(snapshotDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!root || ::syncfs(root.get()) != 0) {
    return std::unexpected(flushError(errno, snapshotDirectory));
  }
  // Already written back by syncfs; flushed once more so that the guarantee does not
  // rest on the directories sharing that filesystem.
  for (const auto& directory : changedDirectories) {
    if (auto flushed = flushDirectory(directory); !flushed) return flushed;
  }
  return {};
}

std::expected<void, Error> makeSnapshotDurable(const std::string& appId,
                                               const path& snapshotDirectory,
                                               std::initializer_list<path> changedDirectories) {
  auto flushed = makeDurable(snapshotDirectory, changedDirectories);
  if (flushed) return {};
  return std::unexpected(makeSyncError(
      appId, SyncError::FailStep::unpack,
      SyncError::Reason::fileManagerError(reportedFileError(std::move(flushed).error()))));
}

}  // namespace qelvo
