#include "retrieval/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>
#include <vector>

#include "base/file_modes.h"
#include "base/unique_fd.h"

namespace qelvo::files {

PlatformError platformError(const std::error_code& error, const std::string& what) {
  const auto& category = error.category();
  if (category == std::generic_category() || category == std::system_category()) {
    return PlatformError::fromErrno(error.value(), what);
  }
  return PlatformError(category.name(), error.value(), what + ": " + error.message());
}

std::string quoted(const path& file) { return "\"" + file.string() + "\""; }

bool exists(const path& file) {
  struct stat status {};
  return ::stat(file.c_str(), &status) == 0;
}

std::expected<void, PlatformError> createDirectories(const path& directory) {
  // Each missing directory with mkdir and kDirectoryMode, so that directories get the
  // same permissions however they came to be (std::filesystem would ask for 0777).
  auto failure = [&directory](int error) {
    return std::unexpected(
        PlatformError::fromErrno(error, "Could not create directory " + quoted(directory)));
  };
  if (directory.empty()) return failure(ENOENT);
  // Deepest first: nearly every call (a file of a bundle, its directory made for its
  // neighbour) finds the parents there and costs one mkdir, not one per component of a
  // path a dozen deep.
  std::vector<path> missing;
  path current = directory;
  while (::mkdir(current.c_str(), kDirectoryMode) != 0) {
    if (errno == EEXIST) break;
    if (errno != ENOENT) return failure(errno);
    missing.push_back(current);
    current = current.parent_path();
    if (current.empty() || current == missing.back()) return failure(ENOENT);
  }
  for (auto made = missing.rbegin(); made != missing.rend(); ++made) {
    if (::mkdir(made->c_str(), kDirectoryMode) != 0 && errno != EEXIST) return failure(errno);
  }
  struct stat status {};
  if (::stat(directory.c_str(), &status) != 0) return failure(errno);
  if (!S_ISDIR(status.st_mode)) return failure(ENOTDIR);
  return {};
}

std::expected<void, PlatformError> removeRecursively(const path& item) {
  std::error_code error;
  std::filesystem::remove_all(item, error);
  if (error) return std::unexpected(platformError(error, "Could not remove " + quoted(item)));
  return {};
}

std::expected<bool, PlatformError> hasEntries(const path& directory) {
  std::error_code error;
  std::filesystem::directory_iterator entries(directory, error);
  if (error)
    return std::unexpected(platformError(error, "Could not list directory " + quoted(directory)));
  return entries != std::filesystem::directory_iterator();
}

std::expected<std::uint64_t, PlatformError> freeBytes(const path& item) {
  struct statvfs status {};
  if (::statvfs(item.c_str(), &status) != 0) {
    return std::unexpected(
        PlatformError::fromErrno(errno, "Could not read the free space of " + quoted(item)));
  }
  return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

int writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    auto written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

std::expected<void, PlatformError> writeTextFile(const path& file, std::string_view text) {
  auto failure = [&file](int error) {
    return std::unexpected(PlatformError::fromErrno(error, "Could not write file " + quoted(file)));
  };
  UniqueFd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode));
  if (!fd) return failure(errno);
  if (int error = writeAll(fd.get(), text)) return failure(error);
  if (fd.close() != 0) return failure(errno);
  return {};
}

}  // namespace qelvo::files
