#include "retrieval/zip_extractor.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/file_modes.h"
#include "base/try.h"
#include "platform/parallel.h"
#include "retrieval/file_system.h"
#include "base/unique_fd.h"
#include "retrieval/zip_archive.h"
#include "retrieval/zip_entry_plan.h"

namespace qelvo {
namespace {

using std::filesystem::path;

// Entries are streamed through one buffer per worker: memory does not grow with the
// size of an entry, and a typical web file is read and written in one call each.
constexpr std::size_t kChunkSize = 256 * 1024;

// The components of the directory an entry needs: its parent for a file, itself for a
// directory.
std::span<const std::string> directoryOf(const PlannedEntry& entry) {
  const auto& components = entry.path.components;
  if (entry.path.isDirectory) return components;
  return std::span(components).first(components.size() - 1);
}

std::string joined(std::span<const std::string> components) {
  std::string text;
  for (const auto& component : components) {
    if (!text.empty()) text += '/';
    text += component;
  }
  return text;
}

// What extraction writes, and the messages of its failures.
class Destination {
 public:
  Destination(const path& archivePath, UniqueFd root)
      : archivePath_(archivePath), root_(std::move(root)) {}

  // Enters each directory below the destination without following a symbolic link,
  // creating the missing ones when `create` is set: a link planted there makes the
  // entry fail instead of leading the write elsewhere.
  std::expected<UniqueFd, PlatformError> openDirectory(const PlannedEntry& entry,
                                                       std::span<const std::string> components,
                                                       bool create) const {
    UniqueFd current(::openat(root_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current) return std::unexpected(systemError(entry, "open the destination"));
    std::string walked;
    for (const auto& component : components) {
      walked += walked.empty() ? component : "/" + component;
      if (create && ::mkdirat(current.get(), component.c_str(), kDirectoryMode) != 0 &&
          errno != EEXIST) {
        return std::unexpected(systemError(entry, "create directory", walked));
      }
      UniqueFd next(::openat(current.get(), component.c_str(),
                             O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next) return std::unexpected(systemError(entry, "enter directory", walked));
      current = std::move(next);
    }
    return current;
  }

  // Writes the file entry into the directory `parent` from `archive`.
  std::expected<void, PlatformError> writeFile(zip_t* archive, const PlannedEntry& entry,
                                               int parent, std::vector<char>& buffer) const {
    const auto& name = entry.path.components.back();
    ZipEntryReader reader(zip_fopen_index(archive, entry.index, 0));
    if (!reader) return std::unexpected(zipError(zip_get_error(archive), readWhat(entry)));
    // O_EXCL: an existing file or link at the name is never written through or over.
    UniqueFd file(::openat(parent, name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (!file) return std::unexpected(systemError(entry, "create the file"));

    std::uint64_t written = 0;
    while (true) {
      auto count = zip_fread(reader.get(), buffer.data(), buffer.size());
      if (count < 0)
        return std::unexpected(zipError(zip_file_get_error(reader.get()), readWhat(entry)));
      if (count == 0) break;
      written += static_cast<std::uint64_t>(count);
      if (written > entry.size) return std::unexpected(sizeMismatch(entry, "more"));
      if (int error = files::writeAll(
              file.get(), std::string_view(buffer.data(), static_cast<std::size_t>(count)))) {
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

  std::string readWhat(const PlannedEntry& entry) const {
    return "Could not read entry \"" + entry.name + "\" of archive " + files::quoted(archivePath_);
  }

  PlatformError sizeMismatch(const PlannedEntry& entry, const std::string& moreOrLess) const {
    return refusedEntry(ArchiveRefusal::corruptEntry, entry.name, archivePath_,
                        "it holds " + moreOrLess + " data than the " + std::to_string(entry.size) +
                            " bytes it declares");
  }

  const path& archivePath_;
  UniqueFd root_;
};

// The first failure of an extraction in archive order, as a loop over the entries
// would have met it.
struct Failure {
  std::size_t entry;
  PlatformError error;
};

// First pass, on the calling thread: every directory the entries need, in archive
// order, each created once. Files can then be written in any order.
std::optional<Failure> makeDirectories(const Destination& destination,
                                       const std::vector<PlannedEntry>& entries) {
  std::unordered_set<std::string> made;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    auto directory = directoryOf(entries[i]);
    auto key = joined(directory);
    if (made.contains(key)) continue;
    if (auto opened = destination.openDirectory(entries[i], directory, true); !opened) {
      return Failure{i, std::move(opened.error())};
    }
    made.insert(std::move(key));
  }
  return std::nullopt;
}

// What one worker keeps between entries: its own archive handle (libzip handles are
// not shared between threads), its buffer, and the directory it wrote into last.
struct Worker {
  zip_t* archive = nullptr;
  std::vector<char> buffer = std::vector<char>(kChunkSize);
  std::string directoryKey;
  UniqueFd directory;
  std::optional<Failure> failure;
};

// Consecutive entries of one directory, claimed whole by one worker: two threads
// creating files in one directory would mostly wait for each other on its lock.
struct Run {
  std::size_t first;
  std::size_t end;
};

// The runs of entries [0, count), long ones split so that the work still spreads.
std::vector<Run> runsOf(const std::vector<PlannedEntry>& entries, std::size_t count) {
  constexpr std::size_t kMaxRun = 128;
  std::vector<Run> runs;
  std::string directory;
  for (std::size_t i = 0; i < count; ++i) {
    auto key = joined(directoryOf(entries[i]));
    if (runs.empty() || key != directory || i - runs.back().first >= kMaxRun) {
      runs.push_back({i, i});
      directory = std::move(key);
    }
    runs.back().end = i + 1;
  }
  return runs;
}

// Second pass: the files of entries [0, count), spread over the workers run by run.
// Runs are ranges in archive order, so the lowest failing run holds the lowest failing
// entry, and every run before it has been written whole.
std::optional<Failure> writeFiles(const Destination& destination,
                                  const std::vector<PlannedEntry>& entries, std::size_t count,
                                  std::vector<Worker>& workers, const std::stop_token& stop) {
  const auto runs = runsOf(entries, count);
  auto writeEntry = [&](Worker& worker, std::size_t index) -> std::expected<void, PlatformError> {
    const auto& entry = entries[index];
    if (stop.stop_requested()) {
      return std::unexpected(PlatformError::fromErrno(ECANCELED, "Extraction stopped"));
    }
    if (entry.path.isDirectory) return {};
    auto directory = directoryOf(entry);
    auto key = joined(directory);
    if (!worker.directory || key != worker.directoryKey) {
      QELVO_TRY(worker.directory, destination.openDirectory(entry, directory, false));
      worker.directoryKey = std::move(key);
    }
    return destination.writeFile(worker.archive, entry, worker.directory.get(), worker.buffer);
  };
  auto failedRun = platform::forEachInOrder(
      runs.size(), workers.size(), [&](std::size_t run, std::size_t which) {
        auto& worker = workers[which];
        for (std::size_t index = runs[run].first; index < runs[run].end; ++index) {
          if (auto written = writeEntry(worker, index); !written) {
            worker.failure = Failure{index, std::move(written.error())};
            return false;
          }
        }
        return true;
      });
  if (!failedRun) return std::nullopt;
  for (auto& worker : workers) {
    if (worker.failure && worker.failure->entry >= runs[*failedRun].first &&
        worker.failure->entry < runs[*failedRun].end) {
      return std::move(worker.failure);
    }
  }
  return std::nullopt;
}

}  // namespace

std::expected<void, PlatformError> extractZip(const path& archive, const path& destination,
                                              const ExtractLimits& limits, std::stop_token stop) {
  QELVO_TRY(auto zip, openZipArchive(archive));
  QELVO_TRY(auto entries, planExtraction(zip.get(), archive, limits));

  UniqueFd root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) {
    int error = errno;
    return std::unexpected(PlatformError::fromErrno(
        error, "Could not open destination " + files::quoted(destination)));
  }
  const Destination target(archive, std::move(root));
  auto directoryFailure = makeDirectories(target, entries);
  const std::size_t writable = directoryFailure ? directoryFailure->entry : entries.size();

  // More workers only where another handle on the archive opens; the calling thread
  // always works with the handle that planned the extraction.
  std::vector<ZipArchive> extraHandles;
  for (std::size_t i = 1; i < platform::workersFor(writable); ++i) {
    auto handle = openZipArchive(archive);
    if (!handle) break;
    extraHandles.push_back(std::move(*handle));
  }
  std::vector<Worker> workers(1 + extraHandles.size());
  workers[0].archive = zip.get();
  for (std::size_t i = 0; i < extraHandles.size(); ++i) workers[i + 1].archive = extraHandles[i].get();

  if (auto failure = writeFiles(target, entries, writable, workers, stop)) {
    return std::unexpected(std::move(failure->error));
  }
  if (directoryFailure) return std::unexpected(std::move(directoryFailure->error));
  return {};
}

}  // namespace qelvo
