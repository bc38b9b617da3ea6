#include "retrieval/partial_downloads.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "client/resumable_body.h"
#include "retrieval/work_area.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPartialName = "partial";
constexpr std::string_view kPartPrefix = "qelvo-download-";

// FNV-1a, 64 bits: a stable name for a URL (the URL kept beside the part settles any
// collision).
std::string urlDigest(std::string_view url) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : url) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

struct Part {
  fs::path file;
  std::uint64_t bytes;
  fs::file_time_type modified;
};

void removePart(const fs::path& file) {
  std::error_code ignored;
  fs::remove(file, ignored);
  fs::remove(file.string() + std::string(kResumeValidatorSuffix), ignored);
}

}  // namespace

fs::path partialDownloadsDirectory(const fs::path& temporaryDirectory) {
  return workAreaRoot(temporaryDirectory) / kPartialName;
}

fs::path partialDownloadFile(const fs::path& temporaryDirectory, std::string_view url) {
  return partialDownloadsDirectory(temporaryDirectory) /
         (std::string(kPartPrefix) + urlDigest(url));
}

std::uint64_t partialDownloadBytes(const fs::path& file) {
  struct stat status {};
  if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

void sweepPartialDownloads(const fs::path& temporaryDirectory, std::chrono::hours maxAge,
                           std::uint64_t maxBytes) {
  const auto directory = partialDownloadsDirectory(temporaryDirectory);
  std::error_code ec;
  std::vector<Part> parts;
  const auto now = fs::file_time_type::clock::now();
  for (const auto& entry : fs::directory_iterator(directory, ec)) {
    const auto& path = entry.path();
    const auto name = path.filename().string();
    std::error_code status;
    if (name.ends_with(kResumeValidatorSuffix)) {
      const auto part = path.string().substr(0, path.string().size() - kResumeValidatorSuffix.size());
      if (!fs::is_regular_file(fs::symlink_status(part, status))) fs::remove(path, status);
      continue;  // otherwise it goes with its part
    }
    if (!name.starts_with(kPartPrefix) || !fs::is_regular_file(entry.symlink_status(status))) {
      fs::remove_all(path, status);
      continue;
    }
    const auto modified = entry.last_write_time(status);
    if (status || !fs::exists(path.string() + std::string(kResumeValidatorSuffix), status) ||
        now - modified > maxAge) {
      removePart(path);
      continue;
    }
    parts.push_back({path, partialDownloadBytes(path), modified});
  }
  std::sort(parts.begin(), parts.end(),
            [](const Part& a, const Part& b) { return a.modified > b.modified; });
  std::uint64_t total = 0;
  for (const auto& part : parts) {
    total += part.bytes;
    if (total > maxBytes) removePart(part.file);
  }
  if (fs::is_empty(directory, ec) && !ec) fs::remove(directory, ec);
}

}  // namespace qelvo
