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
