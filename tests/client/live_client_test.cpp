#include <gtest/gtest.h>

#include "client/live_updates_client.h"
#include "support/loopback_server.h"

namespace qelvo {
namespace {

// A deploy service that answers every check with "no update".
struct NoUpdateServer {
  NoUpdateServer() {
    http.handle("POST", "/apps/abc/channels/check-device",
                [](const httplib::Request&, httplib::Response& res) {
                  res.set_content(R"({"data":{"available":false,"partial":false,)"
                                  R"("compatible":true,"incompatibleUpdateAvailable":false}})",
                                  "application/json");
                });
  }
  test::LoopbackServer http;
};

std::expected<SuccessResponseData, Error> check(const LiveUpdatesClient& client) {
  Device device{"ios", "1", "1.0", "id", std::nullopt, std::nullopt};
  return client.checkForUpdate(CheckRequest(device, false, "abc", "production"), {}, {});
}

TEST(LiveClient, FollowsTheBaseUrlLastConfigured) {
  NoUpdateServer first;
  NoUpdateServer second;
  configureDeployService({.baseUrl = first.http.origin() + "/apps"});
  auto firstClient = LiveUpdatesClient::live();
  EXPECT_EQ(LiveUpdatesClient::live(), firstClient) << "made again only for another URL";

  configureDeployService({.baseUrl = second.http.origin() + "/apps"});
  auto secondClient = LiveUpdatesClient::live();
  EXPECT_NE(secondClient, firstClient);

  ASSERT_TRUE(check(*firstClient).has_value()) << "a client keeps the service it was made for";
  ASSERT_TRUE(check(*secondClient).has_value());
  EXPECT_EQ(first.http.requestCount(), 1u);
  EXPECT_EQ(second.http.requestCount(), 1u);

  configureDeployService({.baseUrl = "not a url"});
  EXPECT_THROW(LiveUpdatesClient::live(), ConfigurationError);
  configureDeployService({.baseUrl = second.http.origin() + "/apps"});
  EXPECT_TRUE(check(*LiveUpdatesClient::live()).has_value());
}

}  // namespace
}  // namespace qelvo
