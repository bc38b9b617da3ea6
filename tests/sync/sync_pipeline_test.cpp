#include <gtest/gtest.h>

#include <regex>

#include "support/sync_fixture.h"

namespace qelvo::test {
namespace {

using namespace std::chrono_literals;

const Date kEarly = Date{} + 1000h;

class SyncPipeline : public SyncTest {
 protected:
  void SetUp() override { manager_->add(LiveUpdate("app", "production", false, Strategy::zip)); }
};

TEST_F(SyncPipeline, NoUpdateChangesNothingAndLogsNothing) {
  auto logging = makeTestManager(server_.client(), "logging", true);
  logging->add(LiveUpdate("app", "production", false, Strategy::zip));
  auto before = logging->record("app");
  server_.offerNothing("app");

  testing::internal::CaptureStdout();
  auto result = logging->sync("app").get();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(result.snapshot);
  EXPECT_EQ(result.source, SyncResult::Source(SyncResult::Cache{false}));
  EXPECT_EQ(result.appId(), "app");
  EXPECT_FALSE(result.id());
  EXPECT_EQ(logging->record("app"), before);
  EXPECT_FALSE(logging->lastSync("app"));
}

TEST_F(SyncPipeline, TheCurrentCachedSnapshotIsReappliedDatedAndTimed) {
  auto logging = makeTestManager(server_.client(), "logging", true);
  logging->add(LiveUpdate("app", "production", false, Strategy::zip));
  putSnapshot(*logging, host_.cacheRoot(), "app", "snap", "1.0.0", kEarly, "production");
  server_.offer("app", "snap", 7, "http://127.0.0.1:1/never-fetched.zip");

  testing::internal::CaptureStdout();
  auto result = logging->sync("app").get();
  auto output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(result.source, SyncResult::Source(SyncResult::Cache{false}));
  EXPECT_EQ(result.lastUsed(), kEarly) << "the snapshot as stored before the apply";
  auto record = logging->record("app");
  ASSERT_TRUE(record->lastSync);
  EXPECT_GT(*record->lastSync, kEarly);
  EXPECT_EQ(record->snapshots.begin()->lastUsed, *record->lastSync);
  EXPECT_NE(output.find("LiveUpdateManager - Snapshot present in cache for app app. Applying snapshot "
                        "snap from cache...\n"),
            std::string::npos)
      << output;
  EXPECT_TRUE(std::regex_search(
      output, std::regex("LiveUpdateManager - Total time to sync app app - [0-9.e+-]+s\n")))
      << output;
}

TEST_F(SyncPipeline, AnOlderCachedSnapshotBecomesCurrentAgain) {
  putSnapshot(*manager_, host_.cacheRoot(), "app", "older", "0.9", kEarly);
  putSnapshot(*manager_, host_.cacheRoot(), "app", "newer", "1.0.0", kEarly, "production");
  server_.offer("app", "older", 1, "http://127.0.0.1:1/x.zip");

  auto result = manager_->sync("app").get();
  EXPECT_EQ(result.source, SyncResult::Source(SyncResult::Cache{true}));
  EXPECT_EQ(result.binaryVersion(), "0.9") << "as stored before";
  EXPECT_EQ(manager_->latestAppDirectory("app"), host_.cacheRoot() / "app" / "older");
  auto record = manager_->record("app");
  EXPECT_EQ(record->channels.begin()->currentSnapshot->id, "older");
  EXPECT_EQ(record->channels.begin()->currentSnapshot->binaryVersion, "1.0.0")
      << "re-dated for the running binary";
}

}  // namespace
}  // namespace qelvo::test
