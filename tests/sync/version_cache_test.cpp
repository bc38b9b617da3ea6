#include <gtest/gtest.h>

#include <functional>

#include "qelvo/live_update_manager.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/test_manager.h"

namespace qelvo::test {
namespace {

using Strategy = LiveUpdate::Strategy;
using namespace std::chrono_literals;

Date day(int n) { return Date{} + std::chrono::hours(24 * n); }

std::set<std::string> recordedIds(const TestManager& manager, const std::string& appId) {
  std::set<std::string> ids;
  auto record = manager.record(appId);  // kept: a range-for does not extend its lifetime
  for (const auto& snapshot : record->snapshots) ids.insert(snapshot.id);
  return ids;
}

class VersionCache : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_->add(LiveUpdate("app", "production", false, Strategy::zip));
  }
  // Five unused snapshots (s1 oldest .. s5 newest) and a current one that is older still.
  void putHistory() {
    for (int i = 1; i <= 5; ++i) {
      putSnapshot(*manager_, host_.cacheRoot(), "app", "s" + std::to_string(i), "1.0.0", day(10 + i));
    }
    putSnapshot(*manager_, host_.cacheRoot(), "app", "current", "1.0.0", day(1), "production");
  }
  bool onDisk(const std::string& id) {
    return std::filesystem::exists(host_.cacheRoot() / "app" / id);
  }

  TestHost host_;
  std::shared_ptr<TestManager> manager_ = std::make_shared<TestManager>("tests", 3, true);
};

// Five unused snapshots and the current one, trimmed by cleanVersions (by id or by
// LiveUpdate) or by add, to the newest unused ones that maxVersions allows.
TEST_F(VersionCache, KeepsTheNewestUnusedSnapshotsAndTheCurrentOne) {
  const LiveUpdate app("app", "production", false, Strategy::zip);
  struct Case {
    int maxVersions;
    std::function<void(TestManager&)> trim;
    std::set<std::string> kept;
  };
  const std::vector<Case> cases = {
      {3, [](TestManager& m) { m.cleanVersions("app"); }, {"current", "s3", "s4", "s5"}},
      {-2, [&](TestManager& m) { m.cleanVersions(app); }, {"current"}},
      {0, [&](TestManager& m) { m.cleanVersions(app); }, {"current"}},
      {1, [&](TestManager& m) { m.add(app); }, {"current", "s5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxVersions);
    putHistory();
    manager_->setMaxVersions(c.maxVersions);
    EXPECT_EQ(manager_->maxVersions(), c.maxVersions) << "stored as given";
    testing::internal::CaptureStdout();
    c.trim(*manager_);
    const auto printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(recordedIds(*manager_, "app"), c.kept);
    for (const auto* id : {"current", "s1", "s2", "s3", "s4", "s5"}) {
      EXPECT_EQ(onDisk(id), c.kept.contains(id)) << id;
      const auto line =
          std::string("LiveUpdateManager - Cleanup - Removing excess app app snapshot ") + id + "\n";
      EXPECT_EQ(printed.find(line) != std::string::npos, !c.kept.contains(id)) << printed;
    }
  }
}

TEST_F(VersionCache, ANewBinaryVersionRemovesSnapshotsOfTheOldOne) {
  auto logging = std::make_shared<TestManager>("logging", 3, true);
  logging->add(LiveUpdate("app", "production", false, Strategy::zip));
  putSnapshot(*logging, host_.cacheRoot(), "app", "old", "0.9", day(5), "production");
  putSnapshot(*logging, host_.cacheRoot(), "app", "kept", "1.0.0", day(4));

  testing::internal::CaptureStdout();
  logging->cleanStaleVersions("app");
  auto output = testing::internal::GetCapturedStdout();

  EXPECT_EQ(output,
            "LiveUpdateManager - Update old for app app was built for a different binary version "
            "v0.9. Caching...\n"
            "LiveUpdateManager - Update old for app app was built for a different binary version "
            "(v0.9 and no longer used, removing from device...\n");
  auto record = logging->record("app");
  EXPECT_EQ(recordedIds(*logging, "app"), (std::set<std::string>{"kept"}));
  EXPECT_FALSE(record->channels.begin()->currentSnapshot);
  EXPECT_FALSE(onDisk("old"));
  EXPECT_TRUE(onDisk("kept"));
  EXPECT_FALSE(logging->latestAppDirectory("app"));
}

TEST_F(VersionCache, WithoutAnIdOnlyRegisteredAppsAreTrimmed) {
  manager_->setMaxVersions(0);
  putSnapshot(*manager_, host_.cacheRoot(), "app", "unused", "1.0.0", day(1));
  putSnapshot(*manager_, host_.cacheRoot(), "stranger", "unused", "1.0.0", day(1));
  manager_->cleanVersions();
  EXPECT_TRUE(recordedIds(*manager_, "app").empty());
  EXPECT_EQ(recordedIds(*manager_, "stranger"), (std::set<std::string>{"unused"}));
  EXPECT_TRUE(std::filesystem::exists(host_.cacheRoot() / "stranger" / "unused"));
}

}  // namespace
}  // namespace qelvo::test
