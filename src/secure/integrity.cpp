#include "secure/integrity.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

#include "base/path_safety.h"
#include "platform/parallel.h"
#include "secure/file_digest.h"

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
std::vector<std::optional<std::string>> digestsOf(const std::vector<const ManifestItem*>& items,
                                                  const std::vector<std::filesystem::path>& files) {
  std::vector<std::optional<std::string>> digests(items.size());
  platform::forEachInOrder(items.size(), platform::workersFor(items.size()),
                           [&](std::size_t index, std::size_t) {
                             if (isSafeRelativePath(items[index]->href)) {
                               digests[index] = fileDigestText(files[index]);
                             }
                             return true;
                           });
  return digests;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
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
                                                  const Manifest& manifest) {
  // The items in the order the set is visited: the order their violations are listed.
  std::vector<const ManifestItem*> items;
  std::vector<std::filesystem::path> files;
  std::unordered_set<std::string> expected;
  items.reserve(manifest.payload.size());
  files.reserve(manifest.payload.size());
  for (const auto& item : manifest.payload) {
    items.push_back(&item);
    files.push_back(directory / item.href);
    expected.insert(files.back().lexically_normal().native());
  }

  std::vector<IntegrityViolation> violations;
  auto digests = digestsOf(items, files);
  for (std::size_t i = 0; i < items.size(); ++i) checkFileIntegrity(*items[i], digests[i], violations);

  std::vector<std::filesystem::path> extras;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const auto& path = it->path();
    if (endsWith(path.native(), kManifestFileName)) continue;
    std::error_code statusError;
    if (!it->is_regular_file(statusError) || it->is_symlink(statusError)) continue;
    auto normalized = path.lexically_normal();
    if (!expected.contains(normalized.native())) extras.push_back(std::move(normalized));
  }
  std::sort(extras.begin(), extras.end());
  for (const auto& extra : extras) {
    violations.push_back({relativeHref(extra, directory.lexically_normal()),
                          IntegrityViolation::FileNotInManifest{}});
  }
  return violations;
}

}  // namespace qelvo
