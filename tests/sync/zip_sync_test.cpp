#include <gtest/gtest.h>

#include "support/sync_fixture.h"
#include "support/temp_dir.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ZipSync : public SyncTest {
 protected:
  void SetUp() override { manager_->add(LiveUpdate("app", "production", false, Strategy::zip)); }

  // Publishes the files as snapshot `id`, offers it and syncs.
  SyncResult syncTo(const std::string& id, const Files& files, std::int64_t build = 1) {
    server_.offer("app", id, build, server_.putZip("app", id, files));
    return manager_->sync("app").get();
  }
  fs::path archivePath(const std::string& id) const {
    return host_.cacheRoot() / "app" / (id + ".zip");
  }
};

// An archive left over by an earlier attempt is replaced by the download.
TEST_F(ZipSync, ANewSnapshotIsUnpackedRecordedThenServedFromCache) {
  writeFile(archivePath("snap-1"), "the first half of an archive");
  const auto files = bundle("v1");
  auto result = syncTo("snap-1", files, 7);
  EXPECT_EQ(result.source, SyncResult::Source(SyncResult::Download{}));
  EXPECT_EQ(result.id(), "snap-1");
  EXPECT_EQ(result.buildId(), "7");
  EXPECT_EQ(result.binaryVersion(), "1.0.0");
  EXPECT_FALSE(fs::exists(archivePath("snap-1")));
  expectCurrent("snap-1", files);
  auto record = manager_->record("app");
  ASSERT_EQ(record->snapshots.size(), 1u);
  EXPECT_EQ(record->channels.begin()->currentSnapshot->id, "snap-1");
  EXPECT_EQ(record->snapshots.begin()->buildId, "7");
  EXPECT_LT(abs(*manager_->lastSync("app") - *result.lastUsed()), 1ms) << "stored as seconds";

  auto again = manager_->sync("app").get();
  EXPECT_EQ(again.source, SyncResult::Source(SyncResult::Cache{false}));
  EXPECT_EQ(server_.count("GET", "/bundles/app/snap-1.zip"), 1u) << "not downloaded again";
  EXPECT_EQ(filesIn(snapshotDir("snap-1")), files);
}

TEST_F(ZipSync, AnAppDirectoryRemovedAfterAddFailsBeforeAnyTransfer) {
  fs::remove_all(host_.cacheRoot() / "app");
  server_.offer("app", "snap-1", 1, server_.putZip("app", "snap-1", bundle("v1")));
  auto error = syncError("app");
  EXPECT_EQ(error.failStep, FailStep::download);
  EXPECT_EQ(metadataText(error), "Application directory was not created for app");
  EXPECT_EQ(server_.count("GET", ".*"), 0u);
  EXPECT_FALSE(manager_->latestAppDirectory("app"));
}

// A sync cancelled while a body arrives, by either strategy: an archive never enters the
// app directory half-way, nothing of the new snapshot stays, and the previous one is
// still current.
TEST_F(ZipSync, ACancelledTransferLeavesNothingOfIt) {
  syncTo("snap-1", bundle("v1"));
  // A large body sent in part, then nothing more until the server stops.
  server_.serveStalled("/bundles/app/snap-2.zip", std::string(1 << 20, 'z'), 64 * 1024);
  server_.offer("app", "snap-2", 2, server_.http().origin() + "/bundles/app/snap-2.zip");
  auto next = bundle("v1");
  next["big.bin"] = std::string(1 << 20, 'b');
  const auto manifest = server_.putManifest("app", "snap-3", next);
  server_.serveStalled("/bundles/app/snap-3/big.bin", next["big.bin"], 64 * 1024);

  for (const auto* id : {"snap-2", "snap-3"}) {
    SCOPED_TRACE(id);
    if (std::string(id) == "snap-3") {
      manager_->add(LiveUpdate("app", "production", false, Strategy::differential));
      server_.offer("app", id, 3, manifest);
    }
    // Shared, so that the error outlives this frame (see SyncTest::syncError).
    auto sync = manager_->sync("app").share();
    ASSERT_TRUE(eventually([&] { return downloadUnderway(); }));
    EXPECT_FALSE(fs::exists(archivePath(id))) << "a partial archive is never in place";
    manager_->cancelSync("app");
    try {
      sync.get();
      ADD_FAILURE() << "the sync went on";
    } catch (const SyncError& error) {
      EXPECT_TRUE(isCancelledDownload(error)) << error.errorDescription();
    }
    EXPECT_FALSE(fs::exists(archivePath(id)));
    EXPECT_FALSE(fs::exists(snapshotDir(id)));
    expectCurrent("snap-1", bundle("v1"));
  }
}

}  // namespace
}  // namespace qelvo::test
