#include "store/app_store.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "qelvo/configuration.h"
#include "store/records_json.h"
#include "support/test_host.h"

namespace qelvo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class AppStore : public testing::Test {
 protected:
  test::TestHost host_;
};

QelWebApp appWithChannel(const std::string& id, const std::string& channel) {
  return QelWebApp{id, {Channel{channel, std::nullopt}}, {}, std::nullopt};
}

// The suite of `name` as a raw key-value suite, to look at the bytes the store wrote.
std::shared_ptr<KeyValueSuite> rawSuite(const std::string& suiteName) {
  return KeyValueSuite::open(metadataDatabasePath(), suiteName).value();
}

TEST_F(AppStore, SavedRecordIsTheJsonUnderItsKey) {
  auto store = openNamedStore("kiosk");
  auto app = appWithChannel("app-1", "production");
  app.lastSync = Date{} + std::chrono::seconds(1'000'000'000);
  CaptureStdout();
  saveApp(*store, app);
  auto read = getApp(*store, "app-1");
  EXPECT_EQ(GetCapturedStdout(), "");

  EXPECT_EQ(read, app);
  EXPECT_TRUE(std::filesystem::exists(host_.library() / "Preferences" / "live-updates.sqlite3"));
  EXPECT_EQ(store->suiteName(), "dev.qelvo.tests-LiveUpdates-kiosk");
  EXPECT_EQ(rawSuite("dev.qelvo.tests-LiveUpdates-kiosk")->data("LiveUpdateApp-app-1").value(),
            encodeApp(app).value());
}

TEST_F(AppStore, OnlyUndecodableOrUnencodableRecordsAreReportedAndTheStoredOneStays) {
  auto store = openNamedStore("kiosk");
  CaptureStdout();
  EXPECT_EQ(getApp(*store, "never-saved"), std::nullopt);
  EXPECT_EQ(GetCapturedStdout(), "");

  for (std::string bytes : {R"({"id":"a","channels":[]})", "not json",
                            R"({"id":"a","channels":[],"snapshots":[],"last_sync":"today"})"}) {
    ASSERT_TRUE(store->setData("LiveUpdateApp-a", bytes));
    CaptureStdout();
    EXPECT_EQ(getApp(*store, "a"), std::nullopt);
    EXPECT_EQ(GetCapturedStdout(), "Error getting App\n") << bytes;
    EXPECT_EQ(store->data("LiveUpdateApp-a").value(), bytes);  // left in place
  }

  // A record that cannot be encoded keeps the stored one.
  saveApp(*store, appWithChannel("a", "production"));
  CaptureStdout();
  saveApp(*store, appWithChannel("a", "\xff\xfe"));
  EXPECT_EQ(GetCapturedStdout(), "Error saving App\n");
  auto read = getApp(*store, "a");
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->channels.contains(Channel{"production", std::nullopt}));
}

// (Names that look like paths are the key-value suite's own case: a name is only ever
// part of a suite's name.)
TEST_F(AppStore, SuitesAreIsolated) {
  EXPECT_EQ(sharedSuiteName(), "dev.qelvo.tests-LiveUpdates");
  auto a = openNamedStore("a");
  auto b = openNamedStore("b");
  auto empty = openNamedStore("");
  EXPECT_EQ(empty->suiteName(), "dev.qelvo.tests-LiveUpdates-");
  auto shared = rawSuite(sharedSuiteName());

  saveApp(*a, appWithChannel("app", "from-a"));
  EXPECT_EQ(getApp(*b, "app"), std::nullopt);
  EXPECT_EQ(getApp(*empty, "app"), std::nullopt);
  EXPECT_EQ(getApp(*shared, "app"), std::nullopt);
  saveApp(*empty, appWithChannel("app", "from-empty"));
  EXPECT_EQ(getApp(*shared, "app"), std::nullopt);
  EXPECT_TRUE(getApp(*a, "app")->channels.contains(Channel{"from-a", std::nullopt}));

  std::set<std::string> identifiers = {deviceIdentifier(*a), deviceIdentifier(*b),
                                       deviceIdentifier(*empty), deviceIdentifier(*shared)};
  EXPECT_EQ(identifiers.size(), 4u);
}

TEST_F(AppStore, DeviceIdentifierIsStableUntilTheSuiteIsCleared) {
  auto store = openNamedStore("kiosk");
  auto other = openNamedStore("other");
  auto first = deviceIdentifier(*store);
  EXPECT_TRUE(std::regex_match(
      first, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << first;
  EXPECT_EQ(deviceIdentifier(*store), first);
  EXPECT_EQ(deviceIdentifier(*openNamedStore("kiosk")), first);
  EXPECT_EQ(store->string("LiveUpdateUUID").value(), first);

  saveApp(*store, appWithChannel("app", "c"));
  saveApp(*other, appWithChannel("app", "c"));
  auto otherIdentifier = deviceIdentifier(*other);
  clearSuite(*store, store->suiteName());
  EXPECT_EQ(getApp(*store, "app"), std::nullopt);
  EXPECT_EQ(store->string("LiveUpdateUUID").value(), std::nullopt);
  auto second = deviceIdentifier(*store);
  EXPECT_NE(second, first);
  EXPECT_EQ(deviceIdentifier(*store), second);
  EXPECT_TRUE(getApp(*other, "app"));  // another suite is untouched
  EXPECT_EQ(deviceIdentifier(*other), otherIdentifier);
}

TEST_F(AppStore, RacingFirstReadsAgreeOnOneDeviceIdentifier) {
  constexpr int kThreads = 16;
  std::vector<std::string> identifiers(kThreads);
  std::atomic<bool> go = false;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      auto store = openNamedStore("race");
      while (!go) std::this_thread::yield();
      identifiers[i] = deviceIdentifier(*store);
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::set<std::string>(identifiers.begin(), identifiers.end()).size(), 1u);
}

TEST_F(AppStore, ConfigurationErrorsCarryTheirMessages) {
  // An unusable database file: the message names the manager, not the whole suite. (A
  // host without a bundle id is the manager's own case.)
  test::writeFile(metadataDatabasePath(), std::string(4096, 'x'));
  CaptureStdout();
  try {
    openNamedStore("kiosk");
    ADD_FAILURE() << "opened a store on a file that is not a database";
  } catch (const ConfigurationError& e) {
    EXPECT_STREQ(e.what(), "Unable to create UserDefaults for kiosk");
  }
  EXPECT_NE(GetCapturedStdout().find("not a database"), std::string::npos);
}

TEST_F(AppStore, SharedStoreNeedsABundleId) {
  // The shared suite's name is kept for the whole process once computed, so look at a
  // process that has never computed it.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        configureHost({});
        try {
          openSharedStore();
        } catch (const ConfigurationError& e) {
          std::fputs(e.what(), stderr);
          std::_Exit(3);
        }
        std::_Exit(0);
      },
      testing::ExitedWithCode(3), "^No bundle id for current bundle\\?$");
}

}  // namespace
}  // namespace qelvo
