// The filesystem layer: the one place that knows where the version cache lives and
// how its directories are named, and that turns platform failures into
// FileOperationError (printing the platform's description as one line first).
//
//   {Library}/qelvo_apps/                      the cache root (liveUpdatesUrl)
//   {Library}/qelvo_apps/{appId}/              application directory
//   {Library}/qelvo_apps/{appId}/{snapshotId}/ snapshot directory
//   {tmp}/qelvo-work/                          downloads and staging (see work_area.h)
//
// Application and snapshot ids are appended as single path components; an id that is
// not one (empty, ".", "..", containing "/") is refused with `ioError` (EINVAL), and
// the lookups report nothing for it, so no id can reach outside the cache. All
// operations are synchronous and safe from several threads on disjoint paths.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "qelvo/errors.h"
#include "retrieval/zip_extractor.h"

namespace qelvo {

class FileManagerUtilProtocol {
 public:
  using path = std::filesystem::path;
  template <class T>
  using Result = std::expected<T, FileOperationError>;

  virtual ~FileManagerUtilProtocol() = default;

  // {Library}/qelvo_apps; nothing is created when it is computed.
  virtual path liveUpdatesUrl() const = 0;
  // Creates the directory with its missing parents; an existing directory is success.
  virtual Result<path> createDirectory(const path& directory) = 0;
  virtual Result<path> createAppDirectory(const std::string& appId) = 0;
  virtual Result<path> createSnapshotDirectory(const std::string& appId,
                                               const std::string& snapshotId) = 0;
  // The path when something (file or directory) exists there.
  virtual std::optional<path> appDirectory(const std::string& appId) const = 0;
  virtual std::optional<path> snapshotDirectory(const std::string& appId,
                                                const std::string& snapshotId) const = 0;
  virtual Result<void> removeSnapshotDirectory(const std::string& appId,
                                               const std::string& snapshotId) = 0;
  // True when the directory lists at least one entry; false when it cannot be listed.
  virtual bool directoryHasContents(const path& directory) const = 0;
  // Moves a file or directory; fails when the destination exists.
  virtual Result<void> moveItem(const path& from, const path& to) = 0;
  // Extracts `archive` into `destination` (made anew: whatever was there goes), then
  // deletes the archive; `destination`. `invalidZipPath` without an application
  // directory for `appId`. `limits` bound what the archive may unpack to. Removing what
  // is already gone succeeds, as does removeSnapshotDirectory.
  virtual Result<path> unzipSnapshot(const std::string& appId, const path& archive,
                                     const path& destination, const ExtractLimits& limits = {},
                                     std::stop_token stop = {}) = 0;

  // Writes `text` to `file` in place (not atomically), replacing it.
  Result<void> writeString(std::string_view text, const path& file);
};

class FileManagerUtil : public FileManagerUtilProtocol {
 public:
  // Resolves the Library directory of the host's container (created when missing);
  // throws ConfigurationError when there is none to resolve: the layer cannot work
  // without it.
  FileManagerUtil();
  // A layer over another Library directory (tools and tests).
  explicit FileManagerUtil(path libraryDirectory);

  const path& libraryDirectory() const { return libraryDirectory_; }

  path liveUpdatesUrl() const override;
  Result<path> createDirectory(const path& directory) override;
  Result<path> createAppDirectory(const std::string& appId) override;
  Result<path> createSnapshotDirectory(const std::string& appId,
                                       const std::string& snapshotId) override;
  std::optional<path> appDirectory(const std::string& appId) const override;
  std::optional<path> snapshotDirectory(const std::string& appId,
                                        const std::string& snapshotId) const override;
  Result<void> removeSnapshotDirectory(const std::string& appId,
                                       const std::string& snapshotId) override;
  bool directoryHasContents(const path& directory) const override;
  Result<void> moveItem(const path& from, const path& to) override;
  Result<path> unzipSnapshot(const std::string& appId, const path& archive,
                             const path& destination, const ExtractLimits& limits = {},
                             std::stop_token stop = {}) override;

 private:
  // Where the directories of an id would be, or why the id cannot name one.
  std::expected<path, PlatformError> appLocation(const std::string& appId) const;
  std::expected<path, PlatformError> snapshotLocation(const std::string& appId,
                                                      const std::string& snapshotId) const;

  path libraryDirectory_;
  // Derived from the Library directory alone, so it is fixed at construction: readers
  // on any thread see the one value without synchronisation.
  path liveUpdatesUrl_;
};

}  // namespace qelvo
