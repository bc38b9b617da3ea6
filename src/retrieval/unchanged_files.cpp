#include "retrieval/unchanged_files.h"

#include <cerrno>
#include <string>

#include "base/path_safety.h"
#include "platform/parallel.h"
#include "retrieval/file_copy.h"
#include "retrieval/file_system.h"
#include "retrieval/shared_files.h"

namespace qelvo {
namespace {

// What one worker keeps between items: the directory it created last, which the next
// items (neighbours in a bundle) usually share.
struct Worker {
  std::filesystem::path lastDirectory;
  std::optional<UnchangedFileFailure> failure;
};

}  // namespace

std::optional<UnchangedFileFailure> copyUnchangedFiles(const std::vector<ManifestItem>& items,
                                                       const std::filesystem::path& previous,
                                                       const std::filesystem::path& staging,
                                                       std::stop_token stop,
                                                       UnchangedFileMode mode) {
  using Place = std::expected<void, PlatformError> (*)(const std::filesystem::path&,
                                                       const std::filesystem::path&);
  const Place place =
      mode == UnchangedFileMode::share
          ? Place{&shareFileExclusive}
          : Place{[](const std::filesystem::path& from, const std::filesystem::path& to) {
              return copyFileExclusive(from, to);
            }};
  std::vector<Worker> workers(platform::workersFor(items.size()));
  auto failedAt = platform::forEachInOrder(
      items.size(), workers.size(), [&](std::size_t index, std::size_t which) {
        auto& worker = workers[which];
        const auto& href = items[index].href;
        auto fail = [&](PlatformError error) {
          worker.failure = UnchangedFileFailure{index, std::move(error)};
          return false;
        };
        if (stop.stop_requested()) {
          return fail(PlatformError::fromErrno(ECANCELED, "Copying stopped"));
        }
        auto pieces = hrefParts(href).value_or(std::vector<std::string>{});
        if (pieces.empty()) {
          return fail(PlatformError::fromErrno(EINVAL, "Unable to copy \"" + href + "\""));
        }
        auto directory = staging;
        auto source = previous;
        for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
          directory /= pieces[i];
          source /= pieces[i];
        }
        if (directory != worker.lastDirectory) {
          if (auto created = files::createDirectories(directory); !created) {
            return fail(std::move(created.error()));
          }
          worker.lastDirectory = directory;
        }
        if (auto copied = place(source / pieces.back(), directory / pieces.back()); !copied) {
          return fail(std::move(copied.error()));
        }
        return true;
      });
  if (!failedAt) return std::nullopt;
  for (auto& worker : workers) {
    if (worker.failure && worker.failure->item == *failedAt) return std::move(worker.failure);
  }
  return std::nullopt;
}

}  // namespace qelvo
