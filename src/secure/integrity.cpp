#include "secure/integrity.h"

#include <algorithm>
#include <set>

#include "core/path_safety.h"
#include "secure/file_digest.h"

namespace qelvo {
namespace {

constexpr std::string_view kManifestFileName = "live-update-manifest.json";

void checkFileIntegrity(const ManifestItem& item, const std::filesystem::path& file,
                        std::vector<IntegrityViolation>& violations) {
  // An href that leaves the directory names no file of the bundle; nothing outside the
  // snapshot is read for it.
  auto digest = isSafeRelativePath(item.href) ? fileDigestText(file) : std::nullopt;
  if (!digest) {
    violations.push_back({item.href, IntegrityViolation::FileNotFound{}});
  } else if (item.integrity.find(*digest) == std::string::npos) {
    violations.push_back({item.href, IntegrityViolation::InvalidSha{item.integrity, *digest}});
  }
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
  std::vector<IntegrityViolation> violations;
  std::set<std::filesystem::path> expected;
  for (const auto& item : manifest.payload) {
    auto file = directory / item.href;
    checkFileIntegrity(item, file, violations);
    expected.insert(file.lexically_normal());
  }

  std::vector<std::filesystem::path> extras;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const auto& path = it->path();
    if (endsWith(path.native(), kManifestFileName)) continue;
    std::error_code statusError;
    if (!it->is_regular_file(statusError) || it->is_symlink(statusError)) continue;
    auto normalized = path.lexically_normal();
    if (!expected.contains(normalized)) extras.push_back(normalized);
  }
  std::sort(extras.begin(), extras.end());
  for (const auto& extra : extras) {
    violations.push_back({relativeHref(extra, directory.lexically_normal()),
                          IntegrityViolation::FileNotInManifest{}});
  }
  return violations;
}

}  // namespace qelvo
