#include "retrieval/file_manager_util.h"

#include <cerrno>
#include <exception>

#include "base/path_safety.h"
#include "base/try.h"
#include "platform/host.h"
#include "retrieval/file_operation.h"
#include "retrieval/file_system.h"
#include "retrieval/work_area.h"
#include "retrieval/zip_extractor.h"

namespace qelvo {
namespace {

using std::filesystem::path;

constexpr const char* kCacheRootName = "qelvo_apps";

std::expected<path, PlatformError> child(const path& parent, const std::string& name,
                                         const std::string& kind) {
  if (isSafePathComponent(name)) return parent / name;
  return std::unexpected(PlatformError::fromErrno(
      EINVAL, "The " + kind + " \"" + name + "\" is not a single path component"));
}

// Snapshots and the cache go in one step, so that a removal cut short never leaves a
// directory that a record names half deleted.
std::expected<void, PlatformError> removeWhole(const path& item) {
  path temporaryDirectory;
  try {
    temporaryDirectory = platform::temporaryDirectory();
  } catch (const std::exception&) {
    return files::removeRecursively(item);
  }
  return removeInOneStep(item, temporaryDirectory);
}

std::optional<path> existing(const std::expected<path, PlatformError>& item) {
  if (item && files::exists(*item)) return *item;
  return std::nullopt;
}

}  // namespace

FileManagerUtilProtocol::Result<void> FileManagerUtilProtocol::writeString(std::string_view text,
                                                                           const path& file) {
  return performFileOperation(files::writeTextFile(file, text));
}

FileManagerUtil::FileManagerUtil() : FileManagerUtil(platform::libraryDirectory()) {}

FileManagerUtil::FileManagerUtil(path libraryDirectory)
    : libraryDirectory_(std::move(libraryDirectory)),
      liveUpdatesUrl_(libraryDirectory_ / kCacheRootName) {}

path FileManagerUtil::liveUpdatesUrl() const { return liveUpdatesUrl_; }

std::expected<path, PlatformError> FileManagerUtil::appLocation(const std::string& appId) const {
  return child(liveUpdatesUrl_, appId, "application id");
}

std::expected<path, PlatformError> FileManagerUtil::snapshotLocation(
    const std::string& appId, const std::string& snapshotId) const {
  QELVO_TRY(auto application, appLocation(appId));
  return child(application, snapshotId, "snapshot id");
}

FileManagerUtil::Result<path> FileManagerUtil::createDirectory(const path& directory) {
  QELVO_TRY_VOID(performFileOperation(files::createDirectories(directory)));
  return directory;
}

FileManagerUtil::Result<path> FileManagerUtil::createAppDirectory(const std::string& appId) {
  return performWrappedFileOperation([&]() -> Result<path> {
    QELVO_TRY(auto directory, performFileOperation(appLocation(appId)));
    return createDirectory(directory);
  }());
}

FileManagerUtil::Result<path> FileManagerUtil::createSnapshotDirectory(
    const std::string& appId, const std::string& snapshotId) {
  return performWrappedFileOperation([&]() -> Result<path> {
    QELVO_TRY(auto directory, performFileOperation(snapshotLocation(appId, snapshotId)));
    return createDirectory(directory);
  }());
}

std::optional<path> FileManagerUtil::appDirectory(const std::string& appId) const {
  return existing(appLocation(appId));
}

std::optional<path> FileManagerUtil::snapshotDirectory(const std::string& appId,
                                                       const std::string& snapshotId) const {
  return existing(snapshotLocation(appId, snapshotId));
}

FileManagerUtil::Result<void> FileManagerUtil::removeSnapshotDirectory(
    const std::string& appId, const std::string& snapshotId) {
  QELVO_TRY(auto directory, performFileOperation(snapshotLocation(appId, snapshotId)));
  return performFileOperation(removeWhole(directory));
}

bool FileManagerUtil::directoryHasContents(const path& directory) const {
  return files::hasEntries(directory).value_or(false);
}

FileManagerUtil::Result<void> FileManagerUtil::moveItem(const path& from, const path& to) {
  return performFileOperation(files::moveWithoutReplacing(from, to));
}

FileManagerUtil::Result<path> FileManagerUtil::unzipSnapshot(const std::string& appId,
                                                             const path& archive,
                                                             const path& destination,
                                                             const ExtractLimits& limits,
                                                             std::stop_token stop) {
  if (!appDirectory(appId)) return std::unexpected(FileOperationError::invalidZipPath());
  // Whatever an interrupted unpack left there must not be merged with the new bundle.
  QELVO_TRY_VOID(performFileOperation(files::removeRecursively(destination)));
  QELVO_TRY_VOID(createDirectory(destination));
  QELVO_TRY_VOID(performFileOperation(extractZip(archive, destination, limits, std::move(stop))));
  // Only a complete unpack may consume the archive: after a failure it stays for a retry.
  QELVO_TRY_VOID(performFileOperation(files::removeRecursively(archive)));
  return destination;
}

}  // namespace qelvo
