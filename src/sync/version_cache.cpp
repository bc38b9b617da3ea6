// Version cache maintenance: removal of snapshots built for another binary version of
// the host, and trimming of unused snapshots beyond `maxVersions`.
#include <algorithm>
#include <set>
#include <span>

#include "qelvo/live_update_manager.h"
#include "retrieval/file_manager_util.h"
#include "store/app_store.h"
#include "store/launch_store.h"

namespace qelvo {
namespace {

std::set<std::string> snapshotsInUse(const QelWebApp& app) {
  std::set<std::string> inUse;
  for (const auto& channel : app.channels) {
    if (channel.currentSnapshot) inUse.insert(channel.currentSnapshot->id);
  }
  return inUse;
}

}  // namespace

std::expected<void, FileOperationError> LiveUpdateManager::removeUnsharedSnapshotDirectory(
    const std::string& appId, const std::string& snapshotId) {
  // The directory is another manager's as well while its record knows the snapshot.
  if (isSnapshotRecordedElsewhere(*userDefaults(), appId, snapshotId)) return {};
  // Each directory goes in one step, so an interruption leaves the record naming a
  // missing directory (downloaded again if offered), never a half-deleted one.
  return fileManager().removeSnapshotDirectory(appId, snapshotId);
}

void LiveUpdateManager::cleanStaleVersions(const std::string& appId) { removeStaleVersions(appId); }

void LiveUpdateManager::cleanStaleVersions(const LiveUpdate& liveUpdate) {
  removeStaleVersions(liveUpdate.appId);
}

// Both clean-ups change the record and remove directories in one transaction of the
// record: a sync that records a snapshot checks its directory in a transaction of its
// own, so it can never record one that is being removed, and no writer's change of the
// record is lost.
void LiveUpdateManager::removeStaleVersions(const std::string& appId) {
  const std::string binaryVersion = currentBinaryVersion();
  updateApp(*userDefaults(), appId, [&](std::optional<QelWebApp>& app) {
    if (!app) return false;
    decltype(app->channels) channels;
    bool changed = false;
    for (auto channel : app->channels) {
      const auto& current = channel.currentSnapshot;
      if (current && current->binaryVersion != binaryVersion) {
        changed = true;
        log("Update " + current->id + " for app " + appId +
            " was built for a different binary version v" + current->binaryVersion +
            ". Caching...");
        channel.currentSnapshot.reset();
      }
      channels.insert(std::move(channel));
    }
    app->channels = std::move(channels);

    const auto inUse = snapshotsInUse(*app);
    std::vector<Snapshot> removed;
    for (const auto& snapshot : app->snapshots) {
      if (inUse.contains(snapshot.id) || snapshot.binaryVersion == binaryVersion) continue;
      log("Update " + snapshot.id + " for app " + appId +
          " was built for a different binary version (v" + snapshot.binaryVersion +
          " and no longer used, removing from device...");
      // A failed removal is printed by the file layer; the record forgets it all the same.
      (void)removeUnsharedSnapshotDirectory(appId, snapshot.id);
      removed.push_back(snapshot);
    }
    for (const auto& snapshot : removed) app->snapshots.erase(snapshot);
    // A clean-up that finds nothing to clean writes nothing (every process that
    // registers an app runs one).
    return changed || !removed.empty();
  });
}

void LiveUpdateManager::cleanVersions(const std::optional<std::string>& appId) {
  if (appId) return trimVersions(*appId);
  for (const auto& [id, liveUpdate] : instances()) trimVersions(id);
}

void LiveUpdateManager::cleanVersions(const LiveUpdate& liveUpdate) { trimVersions(liveUpdate.appId); }

void LiveUpdateManager::trimVersions(const std::string& appId) {
  removeStaleVersions(appId);
  // A negative setting keeps nothing, like 0.
  const auto keep = static_cast<std::size_t>(std::max(0, maxVersions()));
  updateAppSeeingLaunch(*userDefaults(), appId, [&](std::optional<QelWebApp>& app,
                                                    const LaunchRecord& launch) {
    if (!app) return false;
    auto kept = snapshotsInUse(*app);
    // The last snapshot whose launch was confirmed is where a failed launch returns to.
    if (launch.confirmedSnapshot) kept.insert(*launch.confirmedSnapshot);
    std::vector<Snapshot> candidates;
    for (const auto& snapshot : app->snapshots) {
      if (!kept.contains(snapshot.id)) candidates.push_back(snapshot);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Snapshot& a, const Snapshot& b) { return a.lastUsed > b.lastUsed; });
    if (candidates.size() <= keep) return false;
    for (const auto& snapshot : std::span(candidates).subspan(keep)) {
      log("Cleanup - Removing excess app " + appId + " snapshot " + snapshot.id);
      (void)removeUnsharedSnapshotDirectory(appId, snapshot.id);  // as above
      app->snapshots.erase(snapshot);
    }
    return true;
  });
}

}  // namespace qelvo
