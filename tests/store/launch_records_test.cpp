#include "store/launch_records.h"

#include <gtest/gtest.h>

#include "store/app_store.h"
#include "store/launch_store.h"
#include "support/test_host.h"

namespace qelvo {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using Status = LaunchState::Status;

const Date kDay = Date{} + std::chrono::seconds(978'307'200 + 86'400);  // 2001-01-02 UTC

TEST(LaunchRecords, EncodeToTheStoredFormAndDecodeStrictly) {
  LaunchRecord record;
  record.attempt = LaunchState::Attempt{"A1", "snap-2", kDay, Status::started, 2};
  record.confirmedSnapshot = "snap-1";
  record.failed.push_back(FailedSnapshot{"snap-0", kDay, "white screen"});
  const std::string json =
      R"({"attempt":{"id":"A1","snapshot":"snap-2","started":86400.0,"status":"started",)"
      R"("unconfirmed_launches":2},"confirmed_snapshot":"snap-1",)"
      R"("failed":[{"snapshot":"snap-0","failed_at":86400.0,"reason":"white screen"}]})";
  EXPECT_EQ(encodeLaunch(record).value(), json);
  EXPECT_EQ(decodeLaunch(json).value(), record);

  // The embedded copy and nothing confirmed: the optional keys are left out.
  LaunchRecord embedded;
  embedded.attempt = LaunchState::Attempt{"A2", std::nullopt, kDay, Status::bad, 1};
  EXPECT_EQ(encodeLaunch(embedded).value(),
            R"({"attempt":{"id":"A2","started":86400.0,"status":"bad","unconfirmed_launches":1},)"
            R"("failed":[]})");

  for (
      const char* broken : {
          R"({})",
          R"({"failed":[{"snapshot":"s","failed_at":1}]})",
          R"({"failed":[],"attempt":{"id":"A","started":1,"status":"done","unconfirmed_launches":1}})",
          R"({"failed":[],"attempt":{"id":"A","started":1,"status":"bad","unconfirmed_launches":-1}})",
          R"({"failed":[],"attempt":{"id":"A","started":"today","status":"bad","unconfirmed_launches":1}})",
      }) {
    EXPECT_FALSE(decodeLaunch(broken)) << broken;
  }
}

class LaunchStore : public testing::Test {
 protected:
  test::TestHost host_;
  std::shared_ptr<KeyValueSuite> store_ = openNamedStore("kiosk");
};

TEST_F(LaunchStore, TheRecordAndTheLaunchRecordChangeTogetherOrNotAtAll) {
  saveApp(*store_, QelWebApp{"app", {Channel{"production", std::nullopt}}, {}, std::nullopt});

  // (That an empty launch record stores no key is the launch guard's own case.)
  EXPECT_EQ(updateAppAndLaunch(*store_, "app",
                               [](std::optional<QelWebApp>& app, LaunchRecord&) {
                                 app->lastSync = kDay;
                                 return true;
                               }),
            true);
  EXPECT_EQ(getApp(*store_, "app")->lastSync, kDay);

  // A declined change stores neither.
  EXPECT_EQ(updateAppAndLaunch(*store_, "app",
                               [](std::optional<QelWebApp>& app, LaunchRecord& launch) {
                                 app->lastSync.reset();
                                 launch.confirmedSnapshot = "s1";
                                 return false;
                               }),
            false);
  EXPECT_EQ(getApp(*store_, "app")->lastSync, kDay);
  EXPECT_TRUE(getLaunch(*store_, "app").empty());

  EXPECT_EQ(updateAppAndLaunch(*store_, "app",
                               [](std::optional<QelWebApp>& app, LaunchRecord& launch) {
                                 app->lastSync.reset();
                                 launch.confirmedSnapshot = "s1";
                                 return true;
                               }),
            true);
  EXPECT_EQ(getApp(*store_, "app")->lastSync, std::nullopt);
  EXPECT_EQ(getLaunch(*store_, "app").confirmedSnapshot, "s1");

  // A launch record that does not decode is reported, read as empty and replaced by
  // the next change; writers that only read it leave its bytes alone.
  ASSERT_TRUE(store_->setData(launchKey("app"), "not json"));
  CaptureStdout();
  EXPECT_TRUE(updateAppSeeingLaunch(
      *store_, "app",
      [](std::optional<QelWebApp>&, const LaunchRecord& launch) { return launch.empty(); }));
  EXPECT_EQ(GetCapturedStdout(), "Error getting launch record\n");
  EXPECT_EQ(store_->data(launchKey("app")).value(), "not json");
  CaptureStdout();
  EXPECT_EQ(updateAppAndLaunch(*store_, "app",
                               [](std::optional<QelWebApp>&, LaunchRecord& launch) {
                                 launch.confirmedSnapshot = "s2";
                                 return true;
                               }),
            true);
  GetCapturedStdout();
  EXPECT_EQ(getLaunch(*store_, "app").confirmedSnapshot, "s2");

  // A launch record that cannot be encoded is an error, and nothing is stored.
  CaptureStdout();
  auto unencodable =
      updateAppAndLaunch(*store_, "app", [](std::optional<QelWebApp>& app, LaunchRecord& launch) {
        app->lastSync = kDay;
        launch.confirmedSnapshot = "\xff";
        return true;
      });
  EXPECT_EQ(GetCapturedStdout(), "Error saving launch record\n");
  ASSERT_FALSE(unencodable);
  EXPECT_TRUE(unencodable.error().get<EncodingError>());
  EXPECT_EQ(getApp(*store_, "app")->lastSync, std::nullopt);
  EXPECT_EQ(getLaunch(*store_, "app").confirmedSnapshot, "s2");
}

}  // namespace
}  // namespace qelvo
