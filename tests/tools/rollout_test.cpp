// Staged rollouts: which devices a rollout reaches, through any server instance (how
// rollouts meet the other channel moves is the publisher's test).
#include <gtest/gtest.h>
#include <httplib.h>

#include <set>

#include "publishing/app_lock.h"
#include "publishing/channel_moves.h"
#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

using publishing::ChannelRecord;

const Files kFiles = {{"index.html", "x"}};
constexpr int kDevices = 1000;

// The snapshot a server offers to each of the devices "device-0" to "device-999".
std::vector<std::string> offers(int port) {
  httplib::Client client("127.0.0.1", port);
  std::vector<std::string> snapshots;
  for (int i = 0; i < kDevices; ++i) {
    auto answer = client.Post("/apps/shop/channels/check-device",
                              checkBody("shop", "device-" + std::to_string(i)), "application/json");
    snapshots.push_back(answer && answer->status == 200
                            ? nlohmann::json::parse(answer->body)["data"]["snapshot"].get<std::string>()
                            : "(failed)");
  }
  return snapshots;
}

std::set<int> receiving(const std::vector<std::string>& snapshots, const std::string& id) {
  std::set<int> devices;
  for (int i = 0; i < kDevices; ++i) {
    if (snapshots[static_cast<std::size_t>(i)] == id) devices.insert(i);
  }
  return devices;
}

TEST(Rollout, ReachesAStableShareOfDevicesThroughAnyInstance) {
  DeployFixture first;
  deploy::DeployServer second({.root = first.root().path(), .accessLog = [](std::string_view) {}});
  second.start();
  first.publish("shop", "v1", kFiles);
  first.publish("shop", "v2", {{"index.html", "y"}}, "production", {.rolloutPercent = 10});

  auto tenPercent = offers(first.port());
  EXPECT_EQ(offers(first.port()), tenPercent) << "the same device gets the same answer";
  EXPECT_EQ(offers(second.port()), tenPercent) << "from every instance";
  auto trial = receiving(tenPercent, "v2");
  EXPECT_EQ(receiving(tenPercent, "v1").size() + trial.size(), std::size_t{kDevices});
  EXPECT_NEAR(static_cast<double>(trial.size()) / kDevices, 0.10, 0.03);

  auto lock = publishing::AppLock::acquire(first.root().appDirectory("shop"));
  ASSERT_TRUE(lock);
  ASSERT_TRUE(publishing::widenRollout(first.root(), *lock, "shop", "production", 50));
  auto half = receiving(offers(second.port()), "v2");
  EXPECT_NEAR(static_cast<double>(half.size()) / kDevices, 0.50, 0.03);
  EXPECT_TRUE(std::includes(half.begin(), half.end(), trial.begin(), trial.end()))
      << "widening keeps every device that had the snapshot";

  auto done = publishing::widenRollout(first.root(), *lock, "shop", "production", 100);
  ASSERT_TRUE(done) << done.error();
  EXPECT_EQ(*done, (ChannelRecord{"v2", {"v1"}, std::nullopt}));
  EXPECT_EQ(receiving(offers(first.port()), "v2").size(), std::size_t{kDevices});
}

}  // namespace
}  // namespace qelvo::test
