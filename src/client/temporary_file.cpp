#include "client/temporary_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <random>
#include <utility>

#include "base/file_modes.h"

namespace qelvo {
namespace {

std::string randomSuffix() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kAlphabet) - 2);
  std::string suffix(12, ' ');
  for (auto& c : suffix) c = kAlphabet[pick(generator)];
  return suffix;
}

}  // namespace

std::expected<TemporaryFile, PlatformError> TemporaryFile::create(
    const std::filesystem::path& directory) {
  // A name of our own with O_EXCL rather than mkstemp, whose file is 0600: the body
  // becomes a file of the snapshot as it is, and gets the mode every snapshot file has.
  std::string pattern;
  int descriptor = -1;
  for (int attempt = 0; descriptor < 0 && attempt < 100; ++attempt) {
    pattern = (directory / ("qelvo-download-" + randomSuffix())).string();
    descriptor = ::open(pattern.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        kFileMode);
    if (descriptor < 0 && errno != EEXIST) break;
  }
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

std::expected<TemporaryFile, PlatformError> TemporaryFile::keptAt(int descriptor,
                                                                  std::filesystem::path path) {
  struct stat status {};
  if (fstat(descriptor, &status) != 0) {
    int error = errno;
    ::close(descriptor);
    return std::unexpected(PlatformError::fromErrno(error, "Unable to inspect " + path.string()));
  }
  return TemporaryFile(descriptor, std::move(path), status.st_dev, status.st_ino, true);
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)),
      path_(std::move(other.path_)),
      device_(other.device_),
      inode_(other.inode_),
      kept_(other.kept_) {
  other.path_.clear();
}

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    release();
    descriptor_ = std::exchange(other.descriptor_, -1);
    path_ = std::move(other.path_);
    device_ = other.device_;
    inode_ = other.inode_;
    kept_ = other.kept_;
    other.path_.clear();
  }
  return *this;
}

TemporaryFile::~TemporaryFile() { release(); }

void TemporaryFile::release() noexcept {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
  struct stat status {};
  if (!kept_ && !path_.empty() && ::lstat(path_.c_str(), &status) == 0 &&
      status.st_dev == device_ && status.st_ino == inode_) {
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
