#include "retrieval/work_area.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "base/path_safety.h"
#include "platform/host.h"
#include "retrieval/file_system.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDownloadPrefix = "qelvo-download-";  // see TemporaryFile
constexpr std::string_view kStagingMarkPrefix = ".qelvo-staging-";
constexpr std::string_view kArchiveSuffix = ".zip";
constexpr std::string_view kRemovalPrefix = ".qelvo-removing-";

void removeQuietly(const fs::path& item) {
  std::error_code ignored;
  fs::remove_all(item, ignored);
}

// Download files and marked staging directories in tmp; archives in every application
// directory. Runs only while no sync holds a lease, so none of it is in use.
void sweep(const fs::path& temporaryDirectory, const fs::path& cacheRoot) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(temporaryDirectory, ec)) {
    const auto name = entry.path().filename().string();
    if (name.starts_with(kDownloadPrefix) || name.starts_with(kRemovalPrefix)) {
      removeQuietly(entry.path());
    } else if (name.starts_with(kStagingMarkPrefix)) {
      const auto staging = name.substr(kStagingMarkPrefix.size());
      if (isSafePathComponent(staging)) removeQuietly(temporaryDirectory / staging);
      removeQuietly(entry.path());
    }
  }
  for (const auto& application : fs::directory_iterator(cacheRoot, ec)) {
    if (!application.is_directory(ec) || application.is_symlink(ec)) continue;
    for (const auto& entry : fs::directory_iterator(application.path(), ec)) {
      if (entry.path().filename().string().ends_with(kArchiveSuffix) &&
          entry.is_regular_file(ec) && !entry.is_symlink(ec)) {
        removeQuietly(entry.path());
      }
    }
  }
}

}  // namespace

WorkAreaLease WorkAreaLease::acquire(const fs::path& temporaryDirectory, const fs::path& cacheRoot) {
  // flock works on a directory's descriptor: no lock file appears among the host's files.
  UniqueFd lock(::open(temporaryDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!lock) return WorkAreaLease(UniqueFd());
  // Each lease opens its own descriptor, so leases of one process exclude each other
  // like those of different processes.
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) sweep(temporaryDirectory, cacheRoot);
  // Turning the lock into a shared one may let another sync sweep in between; this one
  // has nothing in the work areas yet.
  while (::flock(lock.get(), LOCK_SH) != 0 && errno == EINTR) {
  }
  return WorkAreaLease(std::move(lock));
}

std::expected<void, PlatformError> removeInOneStep(const fs::path& item,
                                                   const fs::path& temporaryDirectory) {
  auto removed = temporaryDirectory / (std::string(kRemovalPrefix) + platform::randomUuid());
  if (::rename(item.c_str(), removed.c_str()) != 0) {
    if (errno == ENOENT) return {};
    removed = item;  // another filesystem, or no temporary directory
  }
  return files::removeRecursively(removed);
}

StagingMark::StagingMark(const fs::path& temporaryDirectory, const std::string& name)
    : mark_(temporaryDirectory / (std::string(kStagingMarkPrefix) + name)) {
  UniqueFd file(::open(mark_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
}

StagingMark::~StagingMark() {
  std::error_code ignored;
  fs::remove(mark_, ignored);
}

}  // namespace qelvo
