#include "publishing/zip_writer.h"

#include "publishing/patch_maker.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

namespace qelvo::publishing {
namespace {

// 2001-01-01 00:00:00 UTC: a fixed stamp, so an archive does not depend on when the
// files were copied.
constexpr std::time_t kEntryTime = 978307200;

struct Entry {
  std::string name;
  std::filesystem::path file;
};

std::expected<std::vector<Entry>, std::string> entriesOf(const std::filesystem::path& directory) {
  std::vector<Entry> entries;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      // Patches are fetched on their own, by devices that hold the older files.
      if (it.depth() == 0 && it->path().filename() == kPatchesDirectoryName) {
        it.disable_recursion_pending();
      }
      continue;
    }
    if (it->is_symlink(error) || !it->is_regular_file(error)) {
      return std::unexpected("Not a regular file: " + it->path().string());
    }
    entries.push_back({it->path().lexically_relative(directory).generic_string(), it->path()});
  }
  if (error)
    return std::unexpected("Could not list " + directory.string() + ": " + error.message());
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

std::string failure(zip_t* archive, const std::string& what) {
  return what + ": " + zip_strerror(archive);
}

std::expected<void, std::string> addEntry(zip_t* archive, const Entry& entry) {
  zip_source_t* source = zip_source_file(archive, entry.file.c_str(), 0, -1);
  if (!source) return std::unexpected(failure(archive, "Could not read " + entry.file.string()));
  zip_int64_t index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    return std::unexpected(failure(archive, "Could not add " + entry.name));
  }
  auto at = static_cast<zip_uint64_t>(index);
  if (zip_set_file_compression(archive, at, ZIP_CM_DEFLATE, 0) != 0 ||
      zip_file_set_mtime(archive, at, kEntryTime, 0) != 0 ||
      zip_file_set_external_attributes(archive, at, 0, ZIP_OPSYS_UNIX,
                                       static_cast<zip_uint32_t>(S_IFREG | 0644) << 16) != 0) {
    return std::unexpected(failure(archive, "Could not describe " + entry.name));
  }
  return {};
}

}  // namespace

std::expected<void, std::string> writeBundleArchive(const std::filesystem::path& directory,
                                                    const std::filesystem::path& archive) {
  auto entries = entriesOf(directory);
  if (!entries) return std::unexpected(entries.error());
  // libzip writes no file at all for an archive without entries.
  if (entries->empty()) return std::unexpected("Nothing to archive in " + directory.string());

  int openError = 0;
  std::unique_ptr<zip_t, decltype(&zip_discard)> zip(
      zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &openError), zip_discard);
  if (!zip) {
    zip_error_t error;
    zip_error_init_with_code(&error, openError);
    std::string text = "Could not create " + archive.string() + ": " + zip_error_strerror(&error);
    zip_error_fini(&error);
    return std::unexpected(text);
  }
  for (const auto& entry : *entries) {
    if (auto added = addEntry(zip.get(), entry); !added) return added;
  }
  // zip_close writes the archive beside its name and renames it in; it frees the handle
  // only when it succeeds.
  if (zip_close(zip.get()) != 0)
    return std::unexpected(failure(zip.get(), "Could not write " + archive.string()));
  zip.release();
  return {};
}

}  // namespace qelvo::publishing
