#include "secure/snapshot_fingerprint.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "retrieval/file_digest.h"

namespace qelvo {
namespace {

// A file's change time moves whenever a hard link to it comes or goes, so a read-only
// file (a file shared between snapshots: a later one linking it, or an earlier one
// trimmed, changes nothing in it) is known by its mode, size, inode and modification
// time. Its content cannot change without its mode changing first.
bool isSharedFile(const struct stat& status) {
  return S_ISREG(status.st_mode) && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::string describe(const std::string& relative, const struct stat& status) {
  std::string text = relative + '\0' + std::to_string(status.st_mode) + ' ' +
                     std::to_string(status.st_size) + ' ' + std::to_string(status.st_ino) + ' ' +
                     std::to_string(status.st_mtim.tv_sec) + '.' +
                     std::to_string(status.st_mtim.tv_nsec);
  if (!isSharedFile(status)) {
    text +=
        ' ' + std::to_string(status.st_ctim.tv_sec) + '.' + std::to_string(status.st_ctim.tv_nsec);
  }
  return text + '\n';
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
