#include <gtest/gtest.h>

#include "client/live_updates_client.h"
#include "support/loopback_server.h"

namespace qelvo {
namespace {

TEST(LiveClient, IsMadeOnceFromTheConfigurationGivenBeforeFirstUse) {
  test::LoopbackServer server;
  server.handle("POST", "/apps/abc/channels/check-device",
                [](const httplib::Request&, httplib::Response& res) {
                  res.set_content(R"({"data":{"available":false,"partial":false,)"
                                  R"("compatible":true,"incompatibleUpdateAvailable":false}})",
                                  "application/json");
                });
  configureDeployService({.baseUrl = server.origin() + "/apps"});

  auto client = LiveUpdatesClient::live();
  configureDeployService({.baseUrl = "https://elsewhere.invalid/apps"});
  EXPECT_EQ(LiveUpdatesClient::live(), client);

  Device device{"ios", "1", "1.0", "id", std::nullopt, std::nullopt};
  auto outcome = client->checkForUpdate(CheckRequest(device, false, "abc", "production"), {});
  ASSERT_TRUE(outcome.has_value()) << outcome.error().localizedDescription();
  EXPECT_EQ(server.requestCount(), 1u);
}

}  // namespace
}  // namespace qelvo
