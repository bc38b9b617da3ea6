#include "retrieval/durability.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "core/sync_errors.h"
#include "retrieval/file_operation.h"
#include "retrieval/file_system.h"
#include "retrieval/unique_fd.h"

namespace qelvo {
namespace {

using std::filesystem::path;

PlatformError flushError(int error, const path& item) {
  return PlatformError::fromErrno(error, "Could not flush " + files::quoted(item) + " to disk");
}

std::expected<void, PlatformError> flushDescriptor(int fd, const path& item) {
  if (::fsync(fd) != 0) return std::unexpected(flushError(errno, item));
  return {};
}

std::expected<void, PlatformError> flushDirectory(const path& directory) {
  UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return std::unexpected(flushError(errno, directory));
  return flushDescriptor(fd.get(), directory);
}

// Every regular file below the open directory `fd`, then the directories bottom-up, so
// that a directory is flushed only once everything it names is.
std::expected<void, PlatformError> flushTree(int fd, const path& where) {
  int listing = ::dup(fd);
  if (listing < 0) return std::unexpected(flushError(errno, where));
  DIR* stream = ::fdopendir(listing);
  if (!stream) {
    int error = errno;
    ::close(listing);
    return std::unexpected(flushError(error, where));
  }
  struct Closer {
    DIR* stream;
    ~Closer() { ::closedir(stream); }
  } closer{stream};

  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(stream);
    if (!entry) {
      if (errno != 0) return std::unexpected(flushError(errno, where));
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // Links and special files are never part of a snapshot; nothing is followed.
    UniqueFd child(::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!child) {
      if (errno == ELOOP) continue;
      return std::unexpected(flushError(errno, where / name));
    }
    struct stat status {};
    if (::fstat(child.get(), &status) != 0) return std::unexpected(flushError(errno, where / name));
    if (S_ISDIR(status.st_mode)) {
      if (auto flushed = flushTree(child.get(), where / name); !flushed) return flushed;
    } else if (auto flushed = flushDescriptor(child.get(), where / name); !flushed) {
      return flushed;
    }
  }
  return flushDescriptor(fd, where);
}

}  // namespace

std::expected<void, PlatformError> makeDurable(const path& snapshotDirectory,
                                               std::initializer_list<path> changedDirectories) {
  UniqueFd root(::open(snapshotDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!root) return std::unexpected(flushError(errno, snapshotDirectory));
  const char* mode = std::getenv("QELVO_DURABILITY");
  if (mode && std::string(mode) == "off") return {};
  if (mode && std::string(mode) == "fs") {
    if (::syncfs(root.get()) != 0) return std::unexpected(flushError(errno, snapshotDirectory));
  } else if (auto flushed = flushTree(root.get(), snapshotDirectory); !flushed) {
    return flushed;
  }
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
