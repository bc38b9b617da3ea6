#include <gtest/gtest.h>

#include <thread>

#include "qelvo/live_update_manager.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/test_manager.h"

namespace qelvo::test {
namespace {

using Strategy = LiveUpdate::Strategy;
using namespace std::chrono_literals;

const Date kEarly = Date{} + 1000h;
const Date kLate = Date{} + 2000h;

TEST(ManagerConstruction, NeedsHostIdentity) {
  configureHost({.bundleIdentifier = "", .shortVersionString = "1.0", .containerRoot = std::nullopt});
  try {
    LiveUpdateManager manager("x", 3, true);
    FAIL() << "constructed without a bundle id";
  } catch (const ConfigurationError& e) {
    EXPECT_STREQ(e.what(), "No bundle id for current bundle?");
  }
  TempDir dir;
  configureHost({.bundleIdentifier = "dev.qelvo.tests", .shortVersionString = std::nullopt,
                 .containerRoot = dir.path()});
  EXPECT_THROW(LiveUpdateManager("x", 3, true), ConfigurationError);
}

TEST(NamedManager, KeepsItsOwnRecordsAndSettings) {
  TestHost host;
  auto first = std::make_shared<TestManager>("first", 5, false);
  auto second = std::make_shared<TestManager>("second", 1, true);
  EXPECT_EQ(first->maxVersions(), 5);
  EXPECT_FALSE(first->loggingEnabled());
  EXPECT_EQ(second->maxVersions(), 1);
  EXPECT_TRUE(second->loggingEnabled());

  first->add(LiveUpdate("app", "production", false, Strategy::zip));
  EXPECT_TRUE(first->record("app"));
  EXPECT_FALSE(second->record("app"));
  EXPECT_TRUE(second->apps().empty());

  // Records survive the manager: a new one on the same name (as after a restart) sees them.
  first.reset();
  auto again = std::make_shared<TestManager>("first", 5, false);
  EXPECT_TRUE(again->record("app"));
  EXPECT_TRUE(again->apps().empty()) << "registrations live in memory only";
}

// A list stops at its first refusal, keeping the apps before it.
TEST(Add, RefusesIdsThatAreNotOneDirectoryNameAndAListStopsThere) {
  TestHost host;
  auto manager = makeTestManager();
  for (const std::string& id : std::vector<std::string>{"", ".", "..", "a/b", std::string("a\0b", 3)}) {
    EXPECT_THROW(manager->add(LiveUpdate(id, "production", false, Strategy::zip)), FileOperationError)
        << id;
  }
  EXPECT_TRUE(manager->apps().empty());
  EXPECT_THROW(manager->add({LiveUpdate("b", "p", false, Strategy::zip), LiveUpdate("..", "p", false, Strategy::zip),
                             LiveUpdate("c", "p", false, Strategy::zip)}),
               FileOperationError);
  auto apps = manager->apps();
  EXPECT_TRUE(apps.contains("b"));
  EXPECT_FALSE(apps.contains("c"));
}

TEST(LastSync, IsTheLatestOfRegisteredApps) {
  TestHost host;
  auto manager = makeTestManager();
  EXPECT_FALSE(manager->lastSync());
  manager->add(LiveUpdate("a", "p", false, Strategy::zip));
  manager->add(LiveUpdate("b", "p", false, Strategy::zip));
  EXPECT_FALSE(manager->lastSync());

  auto a = *manager->record("a");
  a.lastSync = kEarly;
  manager->store(a);
  auto b = *manager->record("b");
  b.lastSync = kLate;
  manager->store(b);
  // A record of an app that is not registered does not count.
  manager->store(QelWebApp{"unregistered", {}, {}, kLate + 1h});

  EXPECT_EQ(manager->lastSync("a"), kEarly);
  EXPECT_EQ(manager->lastSync(LiveUpdate("b", "p", false, Strategy::zip)), kLate);
  EXPECT_EQ(manager->lastSync("unregistered"), kLate + 1h);
  EXPECT_EQ(manager->lastSync(), kLate);
}

TEST(Reset, RemovesOnlyWhatItsOwnRecordsNameAndLeavesOtherManagersIntact) {
  TestHost host;
  auto manager = makeTestManager();
  auto other = makeTestManager("other");
  for (auto* each : {manager.get(), other.get()}) {
    each->add(LiveUpdate("a", "production", false, Strategy::zip));
  }
  manager->add(LiveUpdate("b", "production", false, Strategy::differential));
  putSnapshot(*manager, host.cacheRoot(), "a", "mine", "1.0.0", kEarly, "production");
  putSnapshot(*manager, host.cacheRoot(), "a", "shared", "1.0.0", kEarly);
  putSnapshot(*other, host.cacheRoot(), "a", "shared", "1.0.0", kEarly);
  putSnapshot(*other, host.cacheRoot(), "a", "theirs", "1.0.0", kEarly, "production");
  writeFile(host.cacheRoot() / "stranger" / "file", "x");
  const auto otherRecord = other->record("a");

  manager->reset(false);
  EXPECT_EQ(listFiles(host.cacheRoot()),
            (std::vector<std::string>{"a/shared/index.html", "a/theirs/index.html", "stranger/file"}));
  EXPECT_TRUE(std::filesystem::is_directory(host.cacheRoot() / "b"));
  EXPECT_TRUE(manager->record("a"));
  EXPECT_TRUE(manager->record("a")->snapshots.empty());
  EXPECT_EQ(other->record("a"), otherRecord);
  EXPECT_EQ(other->latestAppDirectory("a"), host.cacheRoot() / "a" / "theirs");
}

}  // namespace
}  // namespace qelvo::test
