// Changed files made from patches: a small edit to a large file costs a small download.
// A patch is only ever an optimisation: whatever goes wrong with one (absent, too large,
// corrupt, made for another base, a result with the wrong digest) costs one log line and
// the whole file is fetched as if there had been no patch.
#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "base/path_safety.h"
#include "base/try.h"
#include "client/download_request.h"
#include "platform/parallel.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/file_digest.h"
#include "retrieval/file_system.h"
#include "retrieval/zstd_patch.h"
#include "sync/progress_reporter.h"

namespace qelvo {
namespace {

constexpr std::string_view kZstdPatch = "zstd-patch";

// A changed file with the patch chosen for it.
struct PlannedPatch {
  const ManifestItem* item;
  const ManifestPatch* patch;
};

// The patch of `item` that applies to `previous` (the previous snapshot's version of
// the file), if one is worth fetching: of a known algorithm, named by a safe href and
// smaller than the file itself.
const ManifestPatch* usablePatch(const ManifestItem& item, const ManifestItem& previous,
                                 const LiveUpdateManager::Limits& limits) {
  for (const auto& patch : item.patches) {
    if (patch.algorithm == kZstdPatch && patch.base == previous.integrity &&
        patch.size < item.size && patch.size <= limits.maxFileBytes &&
        isSafeRelativePath(patch.href)) {
      return &patch;
    }
  }
  return nullptr;
}

std::vector<PlannedPatch> planPatches(const std::vector<ManifestItem>& changed,
                                      const Manifest& previousManifest,
                                      const LiveUpdateManager::Limits& limits) {
  const bool anyPatch = std::ranges::any_of(changed, [](const auto& item) { return !item.patches.empty(); });
  if (!anyPatch) return {};
  std::unordered_map<std::string_view, const ManifestItem*> previousByHref;
  for (const auto& item : previousManifest.payload) previousByHref.emplace(item.href, &item);
  std::vector<PlannedPatch> planned;
  for (const auto& item : changed) {
    auto previous = previousByHref.find(item.href);
    if (previous == previousByHref.end()) continue;
    if (const auto* patch = usablePatch(item, *previous->second, limits)) {
      planned.push_back({&item, patch});
    }
  }
  return planned;
}

std::string patchFileName(std::size_t index) { return "patch-" + std::to_string(index); }

// Makes staging/href from the patch, checked against the item's integrity; why not.
std::optional<std::string> applyOne(const PlannedPatch& planned, const std::filesystem::path& patchFile,
                                    const std::filesystem::path& previousDirectory,
                                    const std::filesystem::path& staging, const PatchBounds& bounds,
                                    const std::stop_token& stop) {
  const auto target = staging / planned.item->href;
  if (auto created = files::createDirectories(target.parent_path()); !created) {
    return created.error().description;
  }
  auto applied = applyZstdPatch(previousDirectory / planned.item->href, patchFile, target, bounds, stop);
  std::error_code ignored;
  std::filesystem::remove(patchFile, ignored);
  if (!applied) return applied.error().description;
  if (fileDigestText(target) != planned.item->integrity) {
    std::filesystem::remove(target, ignored);
    return std::string("the patched file does not have the integrity of the manifest");
  }
  return std::nullopt;
}

}  // namespace

std::expected<std::vector<ManifestItem>, Error> LiveUpdateManager::applyPatches(
    const SyncContext& context, std::vector<ManifestItem> changed, const Url& manifestUrl,
    const std::filesystem::path& previousDirectory, const Manifest& previousManifest,
    const std::filesystem::path& staging) {
  const auto planned = planPatches(changed, previousManifest, context.limits);
  if (planned.empty()) return changed;

  const auto patchDirectory = context.workDirectory / "patches";
  std::vector<std::optional<std::string>> failures(planned.size());
  std::vector<DownloadFileRequest> requests;
  auto builder = makeDownloadFileRequestBuilder(manifestUrl);
  const bool haveDirectory = files::createDirectories(patchDirectory).has_value();
  for (std::size_t i = 0; i < planned.size(); ++i) {
    auto request = haveDirectory ? builder(planned[i].patch->href) : std::nullopt;
    if (!request) request = DownloadFileRequest{};  // fails on its own, as any unusable URL
    // Saved under a name of ours: the href only ever names what is fetched.
    request->parentHref.clear();
    request->filename = patchFileName(i);
    request->size = planned[i].patch->size;
    requests.push_back(std::move(*request));
  }
  QELVO_TRY(auto arrived, downloadEachFile(context, requests, patchDirectory));

  platform::forEachInOrder(planned.size(), platform::workersFor(planned.size()),
                           [&](std::size_t i, std::size_t) {
    if (!arrived[i]) {
      failures[i] = "it could not be downloaded";
      return true;
    }
    const PatchBounds bounds{.maxOutputBytes = fileSizeBound(planned[i].item->size, context.limits),
                             .maxWindowBytes = context.limits.maxPatchWindowBytes};
    failures[i] = applyOne(planned[i], patchDirectory / patchFileName(i), previousDirectory,
                           staging, bounds, context.stop);
    return true;
  });
  if (context.stop.stop_requested()) return std::unexpected(CancellationError());

  std::vector<bool> made(changed.size(), false);
  std::size_t madeCount = 0;
  for (std::size_t i = 0; i < planned.size(); ++i) {
    const auto& item = *planned[i].item;
    if (failures[i]) {
      context.log("Patch " + planned[i].patch->href + " not used (" + *failures[i] +
                  "), downloading " + item.href + " whole");
      continue;
    }
    made[static_cast<std::size_t>(planned[i].item - changed.data())] = true;
    ++madeCount;
    if (context.progress) context.progress->fileDone(item.size);
  }
  context.log("Made " + std::to_string(madeCount) + " of " + std::to_string(changed.size()) +
              " changed files from patches");
  std::vector<ManifestItem> whole;
  for (std::size_t i = 0; i < changed.size(); ++i) {
    if (!made[i]) whole.push_back(std::move(changed[i]));
  }
  return whole;
}

}  // namespace qelvo
