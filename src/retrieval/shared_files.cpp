#include "retrieval/shared_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/file_modes.h"
#include "base/unique_fd.h"
#include "retrieval/file_copy.h"

namespace qelvo {
namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

PlatformError readOnlyError(int error, const std::string& path) {
  return PlatformError::fromErrno(error, "Unable to make " + path + " read-only");
}

// Depth-first over one directory, by descriptor: no path is resolved twice.
std::expected<void, PlatformError> readOnlyBelow(int directoryFd, const std::string& path,
                                                 const std::stop_token& stop) {
  DIR* listing = ::fdopendir(directoryFd);
  if (!listing) {
    int error = errno;
    ::close(directoryFd);
    return std::unexpected(readOnlyError(error, path));
  }
  std::unique_ptr<DIR, int (*)(DIR*)> owned(listing, ::closedir);
  while (dirent* entry = ::readdir(listing)) {
    if (stop.stop_requested()) return std::unexpected(readOnlyError(ECANCELED, path));
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat status {};
    if (::fstatat(::dirfd(listing), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
      return std::unexpected(readOnlyError(errno, path + "/" + name));
    }
    if (S_ISDIR(status.st_mode)) {
      int child = ::openat(::dirfd(listing), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0) return std::unexpected(readOnlyError(errno, path + "/" + name));
      if (auto done = readOnlyBelow(child, path + "/" + name, stop); !done) return done;
    } else if (S_ISREG(status.st_mode) && (status.st_mode & kWriteBits) != 0) {
      if (::fchmodat(::dirfd(listing), name, kSharedFileMode, 0) != 0) {
        return std::unexpected(readOnlyError(errno, path + "/" + name));
      }
    }
  }
  return {};
}

}  // namespace

std::expected<void, PlatformError> shareFileExclusive(const std::filesystem::path& from,
                                                      const std::filesystem::path& to) {
  struct stat status {};
  if (::lstat(from.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
      (status.st_mode & kWriteBits) == 0) {
    if (::link(from.c_str(), to.c_str()) == 0) return {};
    // Another filesystem, or too many links to one file: a copy will do.
    if (errno != EXDEV && errno != EMLINK && errno != EPERM) {
      return std::unexpected(PlatformError::fromErrno(
          errno, "Unable to link " + from.string() + " to " + to.string()));
    }
  }
  return copyFileExclusive(from, to, kSharedFileMode);
}

std::expected<void, PlatformError> makeFilesReadOnly(const std::filesystem::path& directory,
                                                     std::stop_token stop) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::unexpected(readOnlyError(errno, directory.string()));
  return readOnlyBelow(fd, directory.string(), stop);
}

}  // namespace qelvo
