#include "secure/snapshot_fingerprint.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "retrieval/file_digest.h"

namespace qelvo {
namespace {

std::string describe(const std::string& relative, const struct stat& status) {
  return relative + '\0' + std::to_string(status.st_mode) + ' ' + std::to_string(status.st_size) +
         ' ' + std::to_string(status.st_ino) + ' ' + std::to_string(status.st_mtim.tv_sec) + '.' +
         std::to_string(status.st_mtim.tv_nsec) + ' ' + std::to_string(status.st_ctim.tv_sec) +
         '.' + std::to_string(status.st_ctim.tv_nsec) + '\n';
}

}  // namespace

std::optional<std::string> snapshotFingerprint(const std::filesystem::path& directory) {
  struct stat root {};
  if (::lstat(directory.c_str(), &root) != 0 || !S_ISDIR(root.st_mode)) return std::nullopt;
  std::vector<std::string> entries{describe("", root)};
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) return std::nullopt;
    struct stat status {};
    if (::lstat(it->path().c_str(), &status) != 0) return std::nullopt;
    entries.push_back(describe(it->path().lexically_relative(directory).native(), status));
  }
  if (ec) return std::nullopt;
  std::sort(entries.begin(), entries.end());
  std::string text;
  for (const auto& entry : entries) text += entry;
  return contentDigestText(text);
}

}  // namespace qelvo
