// A manager whose internals tests may look at, and helpers to put records and
// snapshot directories in place without a sync.
#pragma once

#include <memory>
#include <string>

#include "client/live_updates_client.h"
#include "qelvo/live_update_manager.h"
#include "store/app_store.h"

namespace qelvo::test {

class TestManager : public LiveUpdateManager {
 public:
  using LiveUpdateManager::LiveUpdateManager;
  using LiveUpdateManager::applySnapshot;
  using LiveUpdateManager::existingCaches;
  using LiveUpdateManager::instances;
  using LiveUpdateManager::needsDownload;
  using LiveUpdateManager::operationMap;
  using LiveUpdateManager::setExecutor;
  using LiveUpdateManager::userDefaults;

  std::optional<QelWebApp> record(const std::string& appId) const {
    return getApp(*userDefaults(), appId);
  }
  void store(const QelWebApp& app) const { saveApp(*userDefaults(), app); }
};

// A quiet named manager for tests.
std::shared_ptr<TestManager> makeTestManager(const std::string& name = "tests", int maxVersions = 3);

// A manager of suite `name` that talks to `client` (logging as `logging` says).
std::shared_ptr<TestManager> makeTestManager(std::shared_ptr<const LiveUpdatesClient> client,
                                             const std::string& name = "sync", bool logging = false);

// Records snapshot `snapshotId` for `appId` (built for `binaryVersion`, last used at
// `lastUsed`) and writes one file into its directory under `cacheRoot`. When `channel`
// is given, that channel's current snapshot becomes it.
void putSnapshot(TestManager& manager, const std::filesystem::path& cacheRoot,
                 const std::string& appId, const std::string& snapshotId,
                 const std::string& binaryVersion, Date lastUsed,
                 const std::optional<std::string>& channel = std::nullopt);

}  // namespace qelvo::test
