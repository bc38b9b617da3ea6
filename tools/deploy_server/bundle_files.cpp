#include "deploy_server/bundle_files.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "toolkit/toolkit.h"

namespace qelvo::deploy {
namespace {

using publishing::DeployRoot;

bool isInside(const std::filesystem::path& item, const std::filesystem::path& directory) {
  auto [end, unused] = std::mismatch(directory.begin(), directory.end(), item.begin(), item.end());
  return end == directory.end();
}

std::optional<std::filesystem::path> relativePathOf(const std::vector<std::string>& parts) {
  if (parts.size() < 4 || parts[1] != "snapshots") return std::nullopt;
  if (!DeployRoot::isValidName(parts[0]) || !DeployRoot::isValidName(parts[2])) return std::nullopt;
  std::filesystem::path path = std::filesystem::path("apps") / parts[0] / "snapshots" / parts[2];
  if (parts.size() == 4 && parts[3] == publishing::kArchiveName) return path / parts[3];
  if (parts[3] != publishing::kFilesDirectoryName || parts.size() < 5) return std::nullopt;
  path /= parts[3];
  for (std::size_t i = 4; i < parts.size(); ++i) {
    if (!isSafePathComponent(parts[i])) return std::nullopt;
    path /= parts[i];
  }
  return path;
}

}  // namespace

std::optional<std::filesystem::path> findBundleFile(const DeployRoot& root,
                                                    const std::vector<std::string>& parts) {
  auto relative = relativePathOf(parts);
  if (!relative) return std::nullopt;
  std::error_code error;
  auto base = std::filesystem::canonical(root.path(), error);
  if (error) return std::nullopt;
  auto file = std::filesystem::canonical(base / *relative, error);
  if (error || !isInside(file, base) || !std::filesystem::is_regular_file(file, error)) {
    return std::nullopt;
  }
  return file;
}

std::string contentTypeOf(const std::filesystem::path& file) {
  static const std::map<std::string, std::string> types = {
      {".css", "text/css"},         {".gif", "image/gif"},       {".htm", "text/html"},
      {".html", "text/html"},       {".ico", "image/x-icon"},    {".jpeg", "image/jpeg"},
      {".jpg", "image/jpeg"},       {".js", "text/javascript"},  {".json", "application/json"},
      {".map", "application/json"}, {".mjs", "text/javascript"}, {".png", "image/png"},
      {".svg", "image/svg+xml"},    {".txt", "text/plain"},      {".wasm", "application/wasm"},
      {".webp", "image/webp"},      {".woff", "font/woff"},      {".woff2", "font/woff2"},
      {".zip", "application/zip"},
  };
  auto extension = file.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto found = types.find(extension);
  return found == types.end() ? "application/octet-stream" : found->second;
}

}  // namespace qelvo::deploy
