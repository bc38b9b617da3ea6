#include "publishing/bundle_copy.h"

#include "publishing/atomic_write.h"
#include "publishing/deploy_root.h"
#include "publishing/patch_maker.h"
#include "publishing/secret_files.h"

namespace qelvo::publishing {

std::expected<std::size_t, std::string> copyBundleFiles(const std::filesystem::path& source,
                                                        const std::filesystem::path& destination,
                                                        bool sourceIsSnapshot) {
  std::error_code error;
  if (!std::filesystem::is_directory(source, error)) {
    return std::unexpected("Not a directory: " + source.string());
  }
  if (!std::filesystem::create_directory(destination, error)) {
    return std::unexpected("Could not create " + destination.string() +
                           (error ? ": " + error.message() : ": it exists"));
  }
  std::size_t copied = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(source, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const auto relative = it->path().lexically_relative(source);
    const auto status = it->symlink_status(error);
    if (error) break;
    if (std::filesystem::is_symlink(status)) {
      return std::unexpected("Symbolic links are not published: " + it->path().string());
    }
    if (auto reason = secretReason(it->path(), relative, std::filesystem::is_directory(status))) {
      return std::unexpected("Refused to publish " + relative.string() + ": " + *reason +
                             ". Keep it out of " + source.string());
    }
    if (relative == std::filesystem::path(kPatchesDirectoryName)) {
      // A snapshot's own patches were made against its predecessors, not the new
      // release's: they are made again.
      if (sourceIsSnapshot) {
        it.disable_recursion_pending();
        continue;
      }
      return std::unexpected(std::string(kPatchesDirectoryName) +
                             " is where the publisher keeps patches; rename it in " +
                             source.string());
    }
    if (std::filesystem::is_directory(status)) {
      std::filesystem::create_directory(destination / relative, error);
      if (error) break;
      continue;
    }
    if (!std::filesystem::is_regular_file(status)) {
      return std::unexpected("Not a regular file: " + it->path().string());
    }
    if (relative == std::filesystem::path(kManifestName)) {
      if (sourceIsSnapshot) continue;
      return std::unexpected(std::string(kManifestName) +
                             " is written by the publisher; remove it from " + source.string());
    }
    if (auto copiedFile = copyFileDurably(it->path(), destination / relative); !copiedFile) {
      return std::unexpected(copiedFile.error());
    }
    ++copied;
  }
  if (error) return std::unexpected("Could not copy " + source.string() + ": " + error.message());
  if (copied == 0) return std::unexpected("No files to publish in " + source.string());
  return copied;
}

}  // namespace qelvo::publishing
