#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

#include "carried_errors.h"
#include "client/download_request.h"
#include "client/live_updates_client.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/test_host.h"

namespace qelvo {
namespace {

using test::LoopbackServer;

TEST(FetchManifest, RefusalsAreInvalidResponsesWithTheFinalUrlAndEndlessRedirectsNetworkErrors) {
  LoopbackServer server;
  server.handle("GET", "/old",
                [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/gone"); });
  server.handle("GET", "/gone", [](const httplib::Request&, httplib::Response& res) {
    res.status = 410;
    res.set_content("gone", "text/plain");
  });
  auto client = LiveUpdatesClient::make(server.url("/apps"), {});
  auto fetched = client->fetchManifest(server.url("/old"), {}, {});
  ASSERT_FALSE(fetched.has_value());
  EXPECT_EQ(fetched.error(),
            Error(NetworkClientError::invalidResponse(HttpResponse{410, server.url("/gone")})));

  server.handle("GET", "/loop",
                [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
  auto looped = client->fetchManifest(server.url("/loop"), {}, {});
  ASSERT_FALSE(looped.has_value());
  const auto* redirects = test::carriedTransferError(looped.error());
  ASSERT_NE(redirects, nullptr) << looped.error().localizedDescription();
  EXPECT_EQ(redirects->curlCode, CURLE_TOO_MANY_REDIRECTS);
  EXPECT_LE(server.requestCount(), 2u + 11u);
}

}  // namespace
}  // namespace qelvo
