#include "retrieval/zip_entry_plan.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "base/try.h"
#include "retrieval/file_system.h"
#include "retrieval/zip_archive.h"

namespace qelvo {
namespace {

using std::filesystem::path;

constexpr std::uint64_t kLocalHeaderBytes = 30;  // before the name and extra field

class Planner {
 public:
  Planner(zip_t* archive, const path& archivePath, const ExtractLimits& limits)
      : archive_(archive), archivePath_(archivePath), limits_(limits) {}

  std::expected<std::vector<PlannedEntry>, PlatformError> run() {
    auto count = zip_get_num_entries(archive_, 0);
    if (count < 0) return std::unexpected(zipError(zip_get_error(archive_), what("read")));
    if (static_cast<std::uint64_t>(count) > limits_.maxEntries) {
      return std::unexpected(PlatformError(
          kArchiveErrorDomain, static_cast<int>(ArchiveRefusal::limitExceeded),
          "Refused archive " + files::quoted(archivePath_) + ": it has " + std::to_string(count) +
              " entries, more than " + std::to_string(limits_.maxEntries)));
    }
    std::vector<PlannedEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (zip_uint64_t index = 0; index < static_cast<zip_uint64_t>(count); ++index) {
      QELVO_TRY(auto entry, check(index));
      QELVO_TRY_VOID(remember(entry));
      entries.push_back(std::move(entry));
    }
    QELVO_TRY_VOID(checkNoFileIsADirectory());
    QELVO_TRY_VOID(checkNoDataIsShared());
    return entries;
  }

 private:
  std::string what(const std::string& verb) const {
    return "Could not " + verb + " archive " + files::quoted(archivePath_);
  }

  PlatformError refused(ArchiveRefusal refusal, const std::string& name,
                        const std::string& reason) const {
    return refusedEntry(refusal, name, archivePath_, reason);
  }

  std::expected<PlannedEntry, PlatformError> check(zip_uint64_t index) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive_, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
      return std::unexpected(zipError(zip_get_error(archive_), what("read")));
    }
    // libzip hands names over NUL-terminated with any NUL inside turned into a space,
    // so the name checked here is exactly the name written.
    PlannedEntry entry{.index = index, .name = stat.name, .path = {}, .size = stat.size};
    auto entryPath = entryPathOf(entry.name);
    if (!entryPath)
      return std::unexpected(refused(ArchiveRefusal::unsafePath, entry.name, entryPath.error()));
    entry.path = std::move(*entryPath);
    QELVO_TRY_VOID(checkType(entry));
    QELVO_TRY_VOID(checkEncoding(entry, stat));
    if (!entry.path.isDirectory) QELVO_TRY_VOID(checkSize(entry, stat));
    return entry;
  }

  // Only Unix attributes can describe links and special files; other systems' carry
  // at most DOS flags.
  std::expected<void, PlatformError> checkType(PlannedEntry& entry) const {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(archive_, entry.index, 0, &system, &attributes) != 0) {
      return std::unexpected(zipError(zip_get_error(archive_), what("read")));
    }
    if (system != ZIP_OPSYS_UNIX) return {};
    auto type = (attributes >> 16) & S_IFMT;
    if (type == S_IFLNK) {
      return std::unexpected(
          refused(ArchiveRefusal::unsupportedEntryType, entry.name, "it is a symbolic link"));
    }
    if (type == S_IFDIR) {
      entry.path.isDirectory = true;
    } else if (type != 0 && type != S_IFREG) {
      return std::unexpected(refused(ArchiveRefusal::unsupportedEntryType, entry.name,
                                     "it is neither a regular file nor a directory"));
    }
    return {};
  }

  std::expected<void, PlatformError> checkEncoding(const PlannedEntry& entry,
                                                   const zip_stat_t& stat) const {
    if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE) {
      return std::unexpected(
          refused(ArchiveRefusal::encryptedEntry, entry.name, "it is encrypted"));
    }
    if (!(stat.valid & ZIP_STAT_COMP_METHOD) ||
        (stat.comp_method != ZIP_CM_STORE && stat.comp_method != ZIP_CM_DEFLATE)) {
      return std::unexpected(refused(ArchiveRefusal::unsupportedCompression, entry.name,
                                     "its compression method " + std::to_string(stat.comp_method) +
                                         " is neither stored nor deflate"));
    }
    return {};
  }

  std::expected<void, PlatformError> checkSize(const PlannedEntry& entry, const zip_stat_t& stat) {
    if (!(stat.valid & ZIP_STAT_SIZE) || !(stat.valid & ZIP_STAT_COMP_SIZE)) {
      return std::unexpected(
          refused(ArchiveRefusal::corruptEntry, entry.name, "its size is unknown"));
    }
    if (stat.size > limits_.maxTotalUncompressedBytes - totalBytes_) {
      return std::unexpected(refused(ArchiveRefusal::limitExceeded, entry.name,
                                     "the archive unpacks to more than " +
                                         std::to_string(limits_.maxTotalUncompressedBytes) +
                                         " bytes"));
    }
    if (limits_.writableBytes && stat.size > *limits_.writableBytes - std::min(totalBytes_, *limits_.writableBytes)) {
      return std::unexpected(PlatformError::fromErrno(
          ENOSPC, "Not enough free space to unpack the archive: it holds more than the " +
                      std::to_string(*limits_.writableBytes) +
                      " bytes that may be written on its filesystem"));
    }
    totalBytes_ += stat.size;
    storedBytes_ += kLocalHeaderBytes + entry.name.size() + stat.comp_size;
    auto ratio = stat.size / std::max<std::uint64_t>(stat.comp_size, 1);
    if (stat.size > limits_.ratioCheckFromBytes && ratio > limits_.maxCompressionRatio) {
      return std::unexpected(refused(
          ArchiveRefusal::limitExceeded, entry.name,
          "it is compressed more than " + std::to_string(limits_.maxCompressionRatio) + " to 1"));
    }
    return {};
  }

  // Two entries for one path would have the second fail half-way (or, with a
  // replacing writer, silently win); both are refused up front instead.
  std::expected<void, PlatformError> remember(const PlannedEntry& entry) {
    if (entry.path.components.empty()) return {};
    auto key = entry.path.joined();
    if (auto [earlier, inserted] = entries_.emplace(key, entry.name); !inserted) {
      return std::unexpected(refused(ArchiveRefusal::duplicateEntry, entry.name,
                                     "entry \"" + earlier->second + "\" has the same path"));
    }
    (entry.path.isDirectory ? directories_ : files_).emplace(key, entry.name);
    std::string ancestor;
    for (std::size_t i = 0; i + 1 < entry.path.components.size(); ++i) {
      if (i > 0) ancestor += '/';
      ancestor += entry.path.components[i];
      directories_.emplace(ancestor, entry.name);
    }
    return {};
  }

  // Entries whose data overlap (a known way to make a small archive unpack to a huge
  // one, every entry re-reading the same compressed bytes) show as entries that need
  // more bytes than the archive has.
  std::expected<void, PlatformError> checkNoDataIsShared() const {
    std::error_code ec;
    const auto archiveBytes = std::filesystem::file_size(archivePath_, ec);
    if (ec || storedBytes_ <= archiveBytes) return {};
    return std::unexpected(PlatformError(
        kArchiveErrorDomain, static_cast<int>(ArchiveRefusal::overlappingEntries),
        "Refused archive " + files::quoted(archivePath_) + ": its entries need " +
            std::to_string(storedBytes_) + " bytes but it has " + std::to_string(archiveBytes) +
            ", so their data overlap"));
  }

  std::expected<void, PlatformError> checkNoFileIsADirectory() const {
    for (const auto& [key, name] : files_) {
      if (auto directory = directories_.find(key); directory != directories_.end()) {
        return std::unexpected(
            refused(ArchiveRefusal::duplicateEntry, name,
                    "entry \"" + directory->second + "\" needs it as a directory"));
      }
    }
    return {};
  }

  zip_t* archive_;
  const path& archivePath_;
  const ExtractLimits& limits_;
  std::uint64_t totalBytes_ = 0;
  // The local headers (without extra fields) and compressed data of the file entries.
  std::uint64_t storedBytes_ = 0;
  // Normalised path to the archive name of the entry that claimed it.
  std::map<std::string, std::string> entries_;
  std::map<std::string, std::string> files_;
  std::map<std::string, std::string> directories_;
};

}  // namespace

PlatformError refusedEntry(ArchiveRefusal refusal, const std::string& entryName,
                           const path& archivePath, const std::string& reason) {
  return PlatformError(kArchiveErrorDomain, static_cast<int>(refusal),
                       "Refused entry \"" + entryName + "\" of archive " +
                           files::quoted(archivePath) + ": " + reason);
}

std::expected<std::vector<PlannedEntry>, PlatformError> planExtraction(
    zip_t* archive, const path& archivePath, const ExtractLimits& limits) {
  return Planner(archive, archivePath, limits).run();
}

}  // namespace qelvo
