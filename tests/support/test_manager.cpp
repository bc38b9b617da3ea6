#include "support/test_manager.h"

#include "retrieval/file_manager_util.h"
#include "support/temp_dir.h"

namespace qelvo::test {

std::shared_ptr<TestManager> makeTestManager(const std::string& name, int maxVersions) {
  return std::make_shared<TestManager>(name, maxVersions, false);
}

std::shared_ptr<TestManager> makeTestManager(std::shared_ptr<const LiveUpdatesClient> client,
                                             const std::string& name, bool logging) {
  auto manager = std::make_shared<TestManager>(openNamedStore(name), std::move(client),
                                               std::make_shared<FileManagerUtil>());
  manager->setLoggingEnabled(logging);
  return manager;
}

void putSnapshot(TestManager& manager, const std::filesystem::path& cacheRoot,
                 const std::string& appId, const std::string& snapshotId,
                 const std::string& binaryVersion, Date lastUsed,
                 const std::optional<std::string>& channel) {
  auto app = manager.record(appId).value_or(QelWebApp{appId, {}, {}, std::nullopt});
  Snapshot snapshot{snapshotId, "1", binaryVersion, lastUsed};
  app.snapshots.erase(snapshot);
  app.snapshots.insert(snapshot);
  if (channel) {
    app.channels.erase(Channel{*channel, std::nullopt});
    app.channels.insert(Channel{*channel, snapshot});
  }
  manager.store(app);
  writeFile(cacheRoot / appId / snapshotId / "index.html", "<html>" + snapshotId + "</html>");
}

}  // namespace qelvo::test
