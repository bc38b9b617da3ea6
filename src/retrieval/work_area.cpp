#include "retrieval/work_area.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "base/path_safety.h"
#include "platform/host.h"
#include "retrieval/file_system.h"
#include "retrieval/partial_downloads.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kWorkAreaName = "qelvo-work";
constexpr std::string_view kRemovalPrefix = ".removing-";
// What earlier versions of the library left directly in {tmp} and in application
// directories; recognised only by these names of their own, cleared like the rest.
constexpr std::string_view kLegacyDownloadPrefix = "qelvo-download-";
constexpr std::string_view kLegacyStagingMarkPrefix = ".qelvo-staging-";
constexpr std::string_view kLegacyRemovalPrefix = ".qelvo-removing-";
constexpr std::string_view kLegacyArchiveSuffix = ".zip";

void removeQuietly(const fs::path& item) {
  std::error_code ignored;
  fs::remove_all(item, ignored);
}

void sweepLegacy(const fs::path& temporaryDirectory, const fs::path& cacheRoot) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(temporaryDirectory, ec)) {
    const auto name = entry.path().filename().string();
    if (name.starts_with(kLegacyDownloadPrefix) || name.starts_with(kLegacyRemovalPrefix)) {
      removeQuietly(entry.path());
    } else if (name.starts_with(kLegacyStagingMarkPrefix)) {
      const auto staging = name.substr(kLegacyStagingMarkPrefix.size());
      if (isSafePathComponent(staging)) removeQuietly(temporaryDirectory / staging);
      removeQuietly(entry.path());
    }
  }
  for (const auto& application : fs::directory_iterator(cacheRoot, ec)) {
    if (!application.is_directory(ec) || application.is_symlink(ec)) continue;
    for (const auto& entry : fs::directory_iterator(application.path(), ec)) {
      if (entry.path().filename().string().ends_with(kLegacyArchiveSuffix) &&
          entry.is_regular_file(ec) && !entry.is_symlink(ec)) {
        removeQuietly(entry.path());
      }
    }
  }
}

// Everything in the work area but the parts of interrupted downloads that a later sync
// may still resume (those go by age and total size), and what earlier versions left.
// Runs only while no sync holds a lease, so none of it is in use.
void sweep(const fs::path& temporaryDirectory, const fs::path& cacheRoot) {
  std::error_code ec;
  const auto partial = partialDownloadsDirectory(temporaryDirectory);
  for (const auto& entry : fs::directory_iterator(workAreaRoot(temporaryDirectory), ec)) {
    if (entry.path() == partial) continue;
    removeQuietly(entry.path());
  }
  sweepPartialDownloads(temporaryDirectory);
  sweepLegacy(temporaryDirectory, cacheRoot);
}

}  // namespace

fs::path workAreaRoot(const fs::path& temporaryDirectory) {
  return temporaryDirectory / kWorkAreaName;
}

WorkAreaLease WorkAreaLease::acquire(const fs::path& temporaryDirectory, const fs::path& cacheRoot) {
  const auto root = workAreaRoot(temporaryDirectory);
  if (!files::createDirectories(root)) return WorkAreaLease(UniqueFd());
  // flock works on a directory's descriptor: no lock file is needed.
  UniqueFd lock(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!lock) return WorkAreaLease(UniqueFd());
  // Each lease opens its own descriptor, so leases of one process exclude each other
  // like those of different processes.
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) sweep(temporaryDirectory, cacheRoot);
  // Turning the lock into a shared one may let another sync sweep in between; this one
  // has nothing in the work area yet.
  while (::flock(lock.get(), LOCK_SH) != 0 && errno == EINTR) {
  }
  return WorkAreaLease(std::move(lock));
}

WorkDirectory WorkDirectory::reserve(const fs::path& temporaryDirectory) {
  return WorkDirectory(workAreaRoot(temporaryDirectory) / ("sync-" + platform::randomUuid()));
}

WorkDirectory::~WorkDirectory() {
  if (!path_.empty()) removeQuietly(path_);
}

std::expected<void, PlatformError> removeInOneStep(const fs::path& item,
                                                   const fs::path& temporaryDirectory) {
  const auto root = workAreaRoot(temporaryDirectory);
  auto removed = root / (std::string(kRemovalPrefix) + platform::randomUuid());
  if (!files::createDirectories(root) || ::rename(item.c_str(), removed.c_str()) != 0) {
    if (errno == ENOENT && !files::exists(item)) return {};
    removed = item;  // another filesystem, or no work area
  }
  return files::removeRecursively(removed);
}

std::expected<void, PlatformError> replaceInOneStep(const fs::path& item, const fs::path& existing,
                                                    const fs::path& temporaryDirectory) {
#ifdef RENAME_EXCHANGE
  if (::renameat2(AT_FDCWD, item.c_str(), AT_FDCWD, existing.c_str(), RENAME_EXCHANGE) == 0) {
    return files::removeRecursively(item);
  }
  // Filesystems without the flag answer EINVAL; kernels without the call ENOSYS.
  if (errno != EINVAL && errno != ENOSYS) {
    return std::unexpected(PlatformError::fromErrno(
        errno, "Could not exchange " + files::quoted(item) + " and " + files::quoted(existing)));
  }
#endif
  if (auto removed = removeInOneStep(existing, temporaryDirectory); !removed) return removed;
  return files::moveWithoutReplacing(item, existing);
}

}  // namespace qelvo
