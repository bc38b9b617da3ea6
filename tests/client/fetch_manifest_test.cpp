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

TEST(FetchManifest, ReportsTheUrlAfterRedirectsAndFilesAreRequestedFromThere) {
  test::TestHost host;
  LoopbackServer server;
  server.handle("GET", "/apps/abc/manifest", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect("/cdn/b%20uild/live-update-manifest.json?v=2&sig=a%2Bb");
  });
  server.handle("GET", "/cdn/.*", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(req.path.ends_with(".json") ? "{\"payload\":\"W10=\"}" : "file", "text/plain");
  });
  auto client = LiveUpdatesClient::make(server.url("/apps"), {});

  auto fetched = client->fetchManifest(server.url("/apps/abc/manifest"), {}, {});
  ASSERT_TRUE(fetched.has_value()) << fetched.error().localizedDescription();
  EXPECT_EQ(fetched->body, "{\"payload\":\"W10=\"}");
  EXPECT_EQ(fetched->url, server.url("/cdn/b%20uild/live-update-manifest.json?v=2&sig=a%2Bb"));

  auto request = makeDownloadFileRequestBuilder(fetched->url)("js/app.js");
  ASSERT_TRUE(request.has_value());
  auto http = makeHttpRequest(*request);
  ASSERT_TRUE(http.has_value());
  auto downloaded = downloadFileAndWait(
      *client, *http, [](const std::filesystem::path&) -> std::expected<void, Error> { return {}; },
      {});
  ASSERT_TRUE(downloaded.has_value()) << downloaded.error().localizedDescription();

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].path, "/cdn/b%20uild/js/app.js");
  // The query is repeated byte for byte, encoded plus sign included.
  EXPECT_EQ(requests[2].query, "v=2&sig=a%2Bb");
}

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
