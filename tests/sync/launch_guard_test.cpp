// The launch guard end to end: real syncs against the test deploy server, launches of
// hosts that die before confirming (a new manager on the same suite, as after a
// restart), and what the guard leaves in the store and the cache.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "qelvo/configuration.h"
#include "store/launch_records.h"
#include "support/sync_fixture.h"
#include "support/temp_dir.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;

class LaunchGuard : public SyncTest {
 protected:
  void SetUp() override { manager_->add(liveUpdate_); }

  // Publishes snapshot `id` (its index.html names it), offers it and syncs.
  SyncResult syncTo(const std::string& id, std::int64_t build) {
    urls_[id] = server_.putZip("app", id, {{"index.html", id}});
    return offerAgain(id, build);
  }
  SyncResult offerAgain(const std::string& id, std::int64_t build) {
    server_.offer("app", id, build, urls_.at(id));
    return manager_->sync("app").get();
  }
  std::size_t downloads(const std::string& id) const {
    return server_.count("GET", "/bundles/app/" + id + ".zip");
  }
  // The process ends and the host starts again: a new manager on the same suite.
  void restart() {
    manager_ = makeTestManager(server_.client());
    manager_->add(liveUpdate_);
  }
  // A launch that loads its snapshot and is confirmed.
  void launchAndConfirm(const std::string& expected) {
    auto attempt = manager_->beginLaunch("app");
    ASSERT_EQ(attempt.snapshotId, expected);
    EXPECT_EQ(readFile(*attempt.directory / "index.html"), expected);
    EXPECT_TRUE(manager_->confirmLaunch("app", attempt.id));
  }
  LaunchState state() const { return manager_->launchState("app"); }
  // s1 synced and confirmed, then s2 synced and not yet launched.
  void confirmS1ThenSyncS2() {
    syncTo("s1", 1);
    launchAndConfirm("s1");
    syncTo("s2", 2);
  }

  LiveUpdate liveUpdate_{"app", "production", false, Strategy::zip};
  std::map<std::string, std::string> urls_;
};

TEST_F(LaunchGuard, UnconfirmedLaunchesRollBackAtTheBoundButOneInterruptionIsForgiven) {
  EXPECT_EQ(manager_->maxUnconfirmedLaunches(), 3);
  confirmS1ThenSyncS2();
  EXPECT_EQ(state().currentSnapshot, "s2");
  EXPECT_EQ(state().confirmedSnapshot, "s1") << "a sync confirms nothing";

  // A power cut during the first start of s2, then a start that gets as far as ready.
  restart();
  manager_->beginLaunch("app");
  restart();
  auto second = manager_->beginLaunch("app");
  EXPECT_EQ(second.snapshotId, "s2");
  EXPECT_EQ(second.rolledBackFrom, std::nullopt);
  EXPECT_EQ(state().lastAttempt->unconfirmedLaunches, 2);
  EXPECT_TRUE(manager_->confirmLaunch("app", second.id));
  EXPECT_EQ(state().confirmedSnapshot, "s2");

  // s3 never starts: each launch dies before it is confirmed.
  syncTo("s3", 3);
  std::set<std::string> ids;
  for (int launch = 1; launch <= 3; ++launch) {
    restart();
    auto attempt = manager_->beginLaunch("app");
    EXPECT_EQ(attempt.snapshotId, "s3");
    ids.insert(attempt.id);
    EXPECT_EQ(state().lastAttempt->unconfirmedLaunches, launch);
  }
  EXPECT_EQ(ids.size(), 3u) << "every attempt has an id of its own";
  restart();
  const auto before = std::chrono::system_clock::now();
  auto back = manager_->beginLaunch("app");
  EXPECT_EQ(back.snapshotId, "s2");
  EXPECT_EQ(back.directory, snapshotDir("s2"));
  EXPECT_EQ(back.rolledBackFrom, "s3");
  EXPECT_EQ(manager_->latestAppDirectory("app"), snapshotDir("s2"));
  auto after = state();
  EXPECT_EQ(after.currentSnapshot, "s2");
  EXPECT_EQ(after.confirmedSnapshot, "s2");
  ASSERT_EQ(after.failedSnapshots.size(), 1u);
  EXPECT_EQ(after.failedSnapshots[0].snapshotId, "s3");
  EXPECT_EQ(after.failedSnapshots[0].reason, "Launched 3 times without a confirmation");
  EXPECT_GE(after.failedSnapshots[0].failedAt, before - std::chrono::milliseconds(1));
  EXPECT_EQ(after.lastAttempt->snapshotId, "s2");
  EXPECT_EQ(after.lastAttempt->unconfirmedLaunches, 1);

  // The last confirmed snapshot has started here before: failing to start does not
  // give it up, as there is nothing known to be better.
  for (int launch = 0; launch < 5; ++launch) {
    restart();
    EXPECT_EQ(manager_->beginLaunch("app").snapshotId, "s2");
  }
  EXPECT_EQ(state().failedSnapshots.size(), 1u);
}

TEST_F(LaunchGuard, ALaunchReportedBadRollsBackAtOnce) {
  confirmS1ThenSyncS2();
  auto attempt = manager_->beginLaunch("app");
  EXPECT_TRUE(manager_->reportBadLaunch("app", attempt.id, "TypeError: app is undefined"));
  EXPECT_EQ(manager_->latestAppDirectory("app"), snapshotDir("s1"));
  auto after = state();
  ASSERT_EQ(after.failedSnapshots.size(), 1u);
  EXPECT_EQ(after.failedSnapshots[0].snapshotId, "s2");
  EXPECT_EQ(after.failedSnapshots[0].reason, "TypeError: app is undefined");
  EXPECT_EQ(after.lastAttempt->status, LaunchState::Status::bad);
  EXPECT_FALSE(manager_->reportBadLaunch("app", attempt.id, "again"));
  EXPECT_FALSE(manager_->confirmLaunch("app", attempt.id));

  auto next = manager_->beginLaunch("app");
  EXPECT_EQ(next.snapshotId, "s1");
  EXPECT_EQ(next.rolledBackFrom, std::nullopt) << "the rollback happened at the report";

  // Even the confirmed snapshot goes when the host says so; with nothing confirmed left
  // the app returns to its embedded copy. Host text is kept as valid UTF-8, bounded.
  ASSERT_TRUE(manager_->confirmLaunch("app", next.id));
  EXPECT_TRUE(manager_->reportBadLaunch("app", next.id, std::string(3000, 'x') + "\xff"));
  EXPECT_EQ(manager_->latestAppDirectory("app"), std::nullopt);
  after = state();
  EXPECT_EQ(after.confirmedSnapshot, std::nullopt);
  ASSERT_EQ(after.failedSnapshots.size(), 2u);
  EXPECT_EQ(after.failedSnapshots[1].reason, std::string(1000, 'x'));
  EXPECT_EQ(manager_->beginLaunch("app").directory, std::nullopt);
}

// A rollback needs a confirmed snapshot that still holds files, and the list of failed
// snapshots stays bounded however many a device meets (the oldest is forgotten).
TEST_F(LaunchGuard, RollbacksNeedFilesAndTheFailedListIsBounded) {
  confirmS1ThenSyncS2();
  fs::remove(snapshotDir("s1") / "index.html");
  ASSERT_TRUE(manager_->reportBadLaunch("app", manager_->beginLaunch("app").id));
  EXPECT_EQ(state().currentSnapshot, std::nullopt) << "an empty s1 is no place to go back to";

  const auto bound = LaunchRecord::kMaxFailedSnapshots;
  for (std::size_t n = 0; n < bound; ++n) {
    const auto id = "bad-" + std::to_string(n);
    putSnapshot(*manager_, host_.cacheRoot(), "app", id, "1.0.0", Date{}, "production");
    ASSERT_TRUE(manager_->reportBadLaunch("app", manager_->beginLaunch("app").id)) << id;
  }
  const auto failed = state().failedSnapshots;
  ASSERT_EQ(failed.size(), bound);
  EXPECT_EQ(failed.front().snapshotId, "bad-0") << "s2, the oldest, was forgotten";
  EXPECT_EQ(failed.back().snapshotId, "bad-" + std::to_string(bound - 1));
}

TEST_F(LaunchGuard, AFailedSnapshotIsNeverAppliedOrDownloadedAgainButANewerOneIs) {
  confirmS1ThenSyncS2();
  ASSERT_TRUE(manager_->reportBadLaunch("app", manager_->beginLaunch("app").id, "white screen"));
  const std::string refusal =
      "Snapshot s2 of application app failed to launch on this device and is not applied "
      "again: white screen";

  // Offered again while it is still in the cache, and after it is gone from the disk.
  for (bool onDisk : {true, false}) {
    if (!onDisk) fs::remove_all(snapshotDir("s2"));
    server_.offer("app", "s2", 2, urls_.at("s2"));
    auto error = syncError("app");
    EXPECT_EQ(error.failStep, FailStep::check);
    EXPECT_EQ(metadataText(error), refusal);
    EXPECT_EQ(manager_->latestAppDirectory("app"), snapshotDir("s1"));
    EXPECT_EQ(downloads("s2"), 1u);
  }
  // A sync that got past the check before the snapshot failed cannot record it either.
  auto applied = manager_->applySnapshot("app", "s2", "2");
  ASSERT_FALSE(applied);
  auto* late = applied.error().get<SyncError>();
  ASSERT_TRUE(late);
  EXPECT_EQ(late->failStep, FailStep::update);
  EXPECT_EQ(metadataText(*late), refusal);

  auto newer = syncTo("s3", 3);
  EXPECT_EQ(newer.id(), "s3");
  EXPECT_EQ(newer.source, SyncResult::Source(SyncResult::Download{}));
  launchAndConfirm("s3");
}

TEST_F(LaunchGuard, SyncsRacingTheRollbackNeverBringTheSnapshotBack) {
  confirmS1ThenSyncS2();  // s2 stays offered: each sync below applies it, until it fails
  std::atomic<bool> done = false;
  std::atomic<int> refused = 0;
  std::jthread syncs([&] {
    while (!done) {
      try {
        manager_->sync("app").get();
      } catch (const SyncError&) {
        ++refused;
      }
    }
  });
  for (int launch = 0; launch < 3; ++launch) manager_->beginLaunch("app");
  EXPECT_EQ(manager_->beginLaunch("app").rolledBackFrom, "s2");
  EXPECT_TRUE(eventually([&] { return refused >= 3; }));
  done = true;
  syncs.join();
  EXPECT_EQ(state().currentSnapshot, "s1");
  EXPECT_EQ(manager_->latestAppDirectory("app"), snapshotDir("s1"));
}

TEST_F(LaunchGuard, TrimmingKeepsTheLastConfirmedSnapshot) {
  manager_->setMaxVersions(0);
  confirmS1ThenSyncS2();
  syncTo("s3", 3);
  manager_->cleanVersions(std::string("app"));
  EXPECT_TRUE(fs::exists(snapshotDir("s1")));
  EXPECT_FALSE(fs::exists(snapshotDir("s2")));
  EXPECT_TRUE(fs::exists(snapshotDir("s3")));
  ASSERT_TRUE(manager_->reportBadLaunch("app", manager_->beginLaunch("app").id));
  EXPECT_EQ(state().failedSnapshots.at(0).reason, "Reported bad by the host");
  EXPECT_EQ(manager_->latestAppDirectory("app"), snapshotDir("s1"));
}

TEST_F(LaunchGuard, AHostThatNeverLaunchesSeesNoChange) {
  manager_->setMaxVersions(0);
  syncTo("s1", 1);
  syncTo("s2", 2);
  manager_->cleanVersions(std::string("app"));
  EXPECT_FALSE(fs::exists(snapshotDir("s1"))) << "unused, so trimmed as always";
  EXPECT_EQ(offerAgain("s1", 1).source, SyncResult::Source(SyncResult::Download{}));
  EXPECT_EQ(downloads("s1"), 2u);
  EXPECT_EQ(manager_->userDefaults()->data(launchKey("app")).value(), std::nullopt);
  EXPECT_EQ(state(), (LaunchState{"s1", std::nullopt, {}, std::nullopt}));
  EXPECT_THROW(manager_->beginLaunch("not-registered"), ConfigurationError);
}

}  // namespace
}  // namespace qelvo::test
