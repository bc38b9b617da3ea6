#include "retrieval/zip_extractor.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <span>
#include <string_view>
#include <vector>

#include "core/try.h"
#include "retrieval/file_system.h"
#include "retrieval/unique_fd.h"
#include "retrieval/zip_archive.h"
#include "retrieval/zip_entry_plan.h"

namespace qelvo {
namespace {

using std::filesystem::path;

// Entries are streamed through one buffer of this size: memory does not grow with
// the size of an entry.
constexpr std::size_t kChunkSize = 64 * 1024;
constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kFileMode = 0644;

class Extraction {
 public:
  Extraction(zip_t* archive, const path& archivePath, UniqueFd destination)
      : archive_(archive),
        archivePath_(archivePath),
        destination_(std::move(destination)),
        buffer_(kChunkSize) {}

  std::expected<void, PlatformError> extract(const PlannedEntry& entry) {
    const auto& components = entry.path.components;
    if (entry.path.isDirectory) {
      QELVO_TRY_VOID(openDirectory(entry, components));
      return {};
    }
    QELVO_TRY(auto parent,
              openDirectory(entry, std::span(components).first(components.size() - 1)));
    return writeFile(entry, parent.get(), components.back());
  }

 private:
  // The failure in errno, taken before building the message may change it.
  PlatformError systemError(const PlannedEntry& entry, std::string_view verb,
                            std::string_view directory = {}) const {
    return systemError(errno, entry, verb, directory);
  }
  PlatformError systemError(int error, const PlannedEntry& entry, std::string_view verb,
                            std::string_view directory = {}) const {
    std::string what = "Could not " + std::string(verb);
    if (!directory.empty()) what += " \"" + std::string(directory) + "\"";
    return PlatformError::fromErrno(error, what + " for entry \"" + entry.name + "\" of archive " +
                                               files::quoted(archivePath_));
  }

  // Enters (creating where missing) each directory below the destination without
  // following a symbolic link: one planted there makes the entry fail instead of
  // leading the write elsewhere.
  std::expected<UniqueFd, PlatformError> openDirectory(const PlannedEntry& entry,
                                                       std::span<const std::string> components) {
    UniqueFd current(::openat(destination_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current) return std::unexpected(systemError(entry, "open the destination"));
    std::string walked;
    for (const auto& component : components) {
      walked += walked.empty() ? component : "/" + component;
      if (::mkdirat(current.get(), component.c_str(), kDirectoryMode) != 0 && errno != EEXIST) {
        return std::unexpected(systemError(entry, "create directory", walked));
      }
      UniqueFd next(::openat(current.get(), component.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next) return std::unexpected(systemError(entry, "enter directory", walked));
      current = std::move(next);
    }
    return current;
  }

  std::expected<void, PlatformError> writeFile(const PlannedEntry& entry, int parent,
                                               const std::string& name) {
    ZipEntryReader reader(zip_fopen_index(archive_, entry.index, 0));
    if (!reader) return std::unexpected(zipError(zip_get_error(archive_), readWhat(entry)));
    // O_EXCL: an existing file or link at the name is never written through or over.
    UniqueFd file(::openat(parent, name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (!file) return std::unexpected(systemError(entry, "create the file"));

    std::uint64_t written = 0;
    while (true) {
      auto count = zip_fread(reader.get(), buffer_.data(), buffer_.size());
      if (count < 0)
        return std::unexpected(zipError(zip_file_get_error(reader.get()), readWhat(entry)));
      if (count == 0) break;
      written += static_cast<std::uint64_t>(count);
      if (written > entry.size) return std::unexpected(sizeMismatch(entry, "more"));
      if (int error = files::writeAll(
              file.get(), std::string_view(buffer_.data(), static_cast<std::size_t>(count)))) {
        return std::unexpected(systemError(error, entry, "write the file"));
      }
    }
    if (written != entry.size) return std::unexpected(sizeMismatch(entry, "less"));
    if (int error = zip_fclose(reader.release()); error != 0) {
      return std::unexpected(zipError(error, readWhat(entry)));
    }
    if (file.close() != 0) return std::unexpected(systemError(entry, "write the file"));
    return {};
  }

  std::string readWhat(const PlannedEntry& entry) const {
    return "Could not read entry \"" + entry.name + "\" of archive " + files::quoted(archivePath_);
  }

  PlatformError sizeMismatch(const PlannedEntry& entry, const std::string& moreOrLess) const {
    return refusedEntry(ArchiveRefusal::corruptEntry, entry.name, archivePath_,
                        "it holds " + moreOrLess + " data than the " + std::to_string(entry.size) +
                            " bytes it declares");
  }

  zip_t* archive_;
  const path& archivePath_;
  UniqueFd destination_;
  std::vector<char> buffer_;
};

}  // namespace

std::expected<void, PlatformError> extractZip(const path& archive, const path& destination,
                                              const ExtractLimits& limits) {
  QELVO_TRY(auto zip, openZipArchive(archive));
  QELVO_TRY(auto entries, planExtraction(zip.get(), archive, limits));

  UniqueFd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) {
    int error = errno;
    return std::unexpected(PlatformError::fromErrno(
        error, "Could not open destination " + files::quoted(destination)));
  }
  Extraction extraction(zip.get(), archive, std::move(root));
  for (const auto& entry : entries) QELVO_TRY_VOID(extraction.extract(entry));
  return {};
}

}  // namespace qelvo
