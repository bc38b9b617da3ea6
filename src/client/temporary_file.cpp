#include "client/temporary_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace qelvo {

std::expected<TemporaryFile, PlatformError> TemporaryFile::create(
    const std::filesystem::path& directory) {
  std::string pattern = (directory / "qelvo-download-XXXXXX").string();
  int descriptor = mkostemp(pattern.data(), O_CLOEXEC);
  if (descriptor < 0) {
    return std::unexpected(
        PlatformError::fromErrno(errno, "Unable to create a file in " + directory.string()));
  }
  struct stat status {};
  if (fstat(descriptor, &status) != 0) {
    int error = errno;
    ::close(descriptor);
    ::unlink(pattern.c_str());
    return std::unexpected(PlatformError::fromErrno(error, "Unable to inspect " + pattern));
  }
  return TemporaryFile(descriptor, std::filesystem::path(pattern), status.st_dev, status.st_ino);
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)),
      path_(std::move(other.path_)),
      device_(other.device_),
      inode_(other.inode_) {
  other.path_.clear();
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    release();
    descriptor_ = std::exchange(other.descriptor_, -1);
    path_ = std::move(other.path_);
    device_ = other.device_;
    inode_ = other.inode_;
    other.path_.clear();
  }
  return *this;
}

TemporaryFile::~TemporaryFile() { release(); }

void TemporaryFile::release() noexcept {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
  struct stat status {};
  if (!path_.empty() && ::lstat(path_.c_str(), &status) == 0 && status.st_dev == device_ &&
      status.st_ino == inode_) {
    ::unlink(path_.c_str());
  }
  path_.clear();
}

std::expected<void, PlatformError> TemporaryFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(PlatformError::fromErrno(errno, "Unable to write " + path_.string()));
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

std::expected<void, PlatformError> TemporaryFile::close() {
  if (descriptor_ < 0) return {};
  int result = ::close(std::exchange(descriptor_, -1));
  if (result != 0 && errno != EINTR) {
    return std::unexpected(PlatformError::fromErrno(errno, "Unable to write " + path_.string()));
  }
  return {};
}

}  // namespace qelvo
