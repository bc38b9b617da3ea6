#include "secure/integrity.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "base/path_safety.h"
#include "platform/parallel.h"
#include "retrieval/file_digest.h"

namespace qelvo {
namespace {

constexpr std::string_view kManifestFileName = "live-update-manifest.json";

// The violation of one listed file, given its digest text (none when it could not be
// read).
void checkFileIntegrity(const ManifestItem& item, const std::optional<std::string>& digest,
                        std::vector<IntegrityViolation>& violations) {
  if (!digest) {
    violations.push_back({item.href, IntegrityViolation::FileNotFound{}});
  } else if (item.integrity.find(*digest) == std::string::npos) {
    violations.push_back({item.href, IntegrityViolation::InvalidSha{item.integrity, *digest}});
  }
}

// The digests of the listed files, hashed on several threads: hashing is most of the
// cost of a validation. An href that leaves the directory names no file of the bundle;
// nothing outside the snapshot is read for it.
std::vector<std::optional<std::string>> digestsOf(
    const std::vector<std::optional<std::string>>& files, const std::stop_token& stop) {
  std::vector<std::optional<std::string>> digests(files.size());
  platform::forEachInOrder(files.size(), platform::workersFor(files.size()),
                           [&](std::size_t index, std::size_t) {
                             if (stop.stop_requested()) return false;
                             if (files[index]) digests[index] = fileDigestText(*files[index]);
                             return true;
                           });
  return digests;
}

// Every regular file below `directory` that `expected` does not name (by its normalized
// path), but the manifest at its root, normalized, sorted. A subdirectory that cannot be
// listed is passed over; the walk goes on after it. Only those are kept: the paths of
// every file of a large bundle would weigh megabytes.
std::vector<std::filesystem::path> unexpectedFilesBelow(
    const std::filesystem::path& directory, const std::unordered_set<std::string_view>& expected) {
  const auto manifest = (directory / kManifestFileName).lexically_normal();
  std::vector<std::filesystem::path> found;
  std::vector<std::filesystem::path> pending{directory};
  while (!pending.empty()) {
    auto current = std::move(pending.back());
    pending.pop_back();
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(current, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      std::error_code statusError;
      auto status = it->symlink_status(statusError);
      if (statusError) continue;
      if (std::filesystem::is_directory(status)) {
        pending.push_back(it->path());
      } else if (std::filesystem::is_regular_file(status)) {
        auto normalized = it->path().lexically_normal();
        if (normalized != manifest && !expected.contains(normalized.native())) {
          found.push_back(std::move(normalized));
        }
      }
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

std::string relativeHref(const std::filesystem::path& file, const std::filesystem::path& directory) {
  const std::string& path = file.native();
  std::string prefix = directory.native();
  while (prefix.size() > 1 && prefix.back() == '/') prefix.pop_back();
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) return path;
  return path.substr(prefix.size() + 1);
}

std::vector<IntegrityViolation> validateIntegrity(const std::filesystem::path& directory,
                                                  const Manifest& manifest,
                                                  std::stop_token stop) {
  // The items in the order the set is visited: the order their violations are listed.
  // An href names its file by its resolved parts (as downloads place it); one that
  // leaves the directory names no file of the bundle, and nothing outside is read.
  std::vector<const ManifestItem*> items;
  // Paths as text: ten thousand path objects, each with a list of its components, would
  // weigh ten times as much.
  std::vector<std::optional<std::string>> files;
  std::unordered_set<std::string_view> expected;  // the texts in `files`, which never move
  items.reserve(manifest.payload.size());
  files.reserve(manifest.payload.size());
  for (const auto& item : manifest.payload) {
    items.push_back(&item);
    auto resolved = resolvedHref(item.href);
    files.push_back(resolved
                        ? std::optional((directory / *resolved).lexically_normal().native())
                        : std::nullopt);
    if (files.back()) expected.insert(std::string_view(*files.back()));
  }

  std::vector<IntegrityViolation> violations;
  auto digests = digestsOf(files, stop);
  for (std::size_t i = 0; i < items.size(); ++i) checkFileIntegrity(*items[i], digests[i], violations);

  // Only the manifest at the root of the snapshot is not listed in itself.
  for (const auto& file : unexpectedFilesBelow(directory, expected)) {
    violations.push_back({relativeHref(file, directory.lexically_normal()),
                          IntegrityViolation::FileNotInManifest{}});
  }
  return violations;
}

}  // namespace qelvo
