// Writers of one application's record racing: syncs against add, cleanVersions and
// cleanStaleVersions, from other threads of the process and from another process. No
// writer may lose another's change, and no clean-up may remove a directory that the
// record ends up naming.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/sync_fixture.h"
#include "support/tool_run.h"

namespace qelvo::test {
namespace {

class RecordRaces : public SyncTest {
 protected:
  void SetUp() override {
    // Every clean-up removes each snapshot that no channel uses, so the snapshot a sync
    // switches back to is always a candidate for removal.
    manager_->setMaxVersions(0);
    manager_->add(liveUpdate_);
    for (const char* id : {"s1", "s2"}) urls_[id] = server_.putZip("app", id, {{"index.html", id}});
  }

  // Syncs `rounds` times, offering s1 and s2 in turn. After each sync the record names
  // the offered snapshot, its directory holds it, and lastSync is the sync's.
  void syncInTurns(int rounds) {
    for (int round = 0; round < rounds; ++round) {
      const std::string id = round % 2 == 0 ? "s1" : "s2";
      server_.offer("app", id, round + 1, urls_[id]);
      const auto before = std::chrono::system_clock::now();
      std::optional<SyncResult> result;
      ASSERT_NO_THROW(result = manager_->sync("app").get()) << "round " << round;
      EXPECT_EQ(result->id(), id);
      auto directory = manager_->latestAppDirectory("app");
      ASSERT_TRUE(directory) << "round " << round << ": the record lost the synced snapshot";
      EXPECT_EQ(readFile(*directory / "index.html"), id) << "round " << round;
      auto lastSync = manager_->lastSync("app");
      ASSERT_TRUE(lastSync);
      EXPECT_GE(*lastSync, before) << "round " << round << ": the sync's save was overwritten";
    }
  }

  LiveUpdate liveUpdate_{"app", "production", false, Strategy::zip};
  std::map<std::string, std::string> urls_;
};

TEST_F(RecordRaces, CleanUpsInOtherThreadsLoseNoSyncAndKeepItsDirectory) {
  std::atomic<bool> done = false;
  std::jthread cleaner([&] {
    while (!done) {
      manager_->add(liveUpdate_);
      manager_->cleanVersions(std::string("app"));
      manager_->cleanStaleVersions(std::string("app"));
    }
  });
  syncInTurns(40);
  done = true;
}

TEST_F(RecordRaces, CleanUpsInAnotherProcessLoseNoSyncAndKeepItsDirectory) {
  // The command-line host's clean adds the app (which trims it) and trims it again, on
  // the same container and metadata suite as this test's manager.
  const std::vector<std::string> clean = {
      "--quiet", "--bundle-id", "dev.qelvo.tests", "--bundle-version", "1.0.0",
      "--data-dir", host_.container().string(), "--name", "sync", "--max-versions", "0",
      "clean", "app:production"};
  std::atomic<bool> done = false;
  std::atomic<int> runs = 0;
  std::jthread cleaner([&] {
    while (!done) {
      EXPECT_EQ(runTool(QELVO_LIVE_UPDATE_TOOL, clean).exitCode, 0);
      ++runs;
    }
  });
  syncInTurns(40);
  done = true;
  cleaner.join();
  EXPECT_GT(runs, 1);
}

}  // namespace
}  // namespace qelvo::test
