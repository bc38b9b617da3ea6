#include "client/retry_after.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/sync_errors.h"
#include "client/live_updates_client.h"
#include "support/loopback_server.h"

namespace qelvo {
namespace {

using std::chrono::seconds;
using test::LoopbackServer;

TEST(RetryAfter, ReadsDelaySecondsAndEveryFormOfHttpDate) {
  // 06 Nov 1994 08:48:07 UTC: 90 s before the dates below.
  const auto now = std::chrono::system_clock::from_time_t(784111687);
  struct Case {
    std::string value;
    std::optional<seconds> wait;
  };
  const Case cases[] = {
      {"120", seconds(120)},
      {"0", seconds(0)},
      {" \t7 ", seconds(7)},
      {"99999999999999999999999", kLongestRetryAfter},
      {"Sun, 06 Nov 1994 08:49:37 GMT", seconds(90)},   // IMF-fixdate
      {"Sunday, 06-Nov-94 08:49:37 GMT", seconds(90)},  // RFC 850
      {"Sun Nov  6 08:49:37 1994", seconds(90)},        // asctime
      {"Sat, 05 Nov 1994 08:49:37 GMT", seconds(0)},    // passed already
      {"", std::nullopt},
      {"-5", std::nullopt},
      {"1.5", std::nullopt},
      {"12 s", std::nullopt},
      {"+3", std::nullopt},
      {"soon", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseRetryAfter(c.value, now), c.wait) << '"' << c.value << '"';
  }
}

// What a refusal of the check, and of a manifest fetch, carries; and what the sync's
// error then says.
TEST(RetryAfter, ARefusalCarriesItUpToTheSyncError) {
  LoopbackServer server;
  server.handle("POST", "/apps/busy/.*", [](const httplib::Request&, httplib::Response& res) {
    res.status = 429;
    res.set_header("Retry-After", "30");
    res.set_content(R"({"error":{"message":"m","type":"t","event_id":"e"}})", "application/json");
  });
  server.handle("POST", "/apps/down/.*", [](const httplib::Request&, httplib::Response& res) {
    res.status = 503;
    res.set_header("Retry-After", "Fri, 31 Dec 9999 23:59:59 GMT");
    res.set_content("<html>maintenance</html>", "text/html");
  });
  server.handle("POST", "/apps/plain/.*", [](const httplib::Request&, httplib::Response& res) {
    res.status = 503;
  });
  server.handle("GET", "/manifest", [](const httplib::Request&, httplib::Response& res) {
    res.status = 503;
    res.set_header("Retry-After", "5");
  });
  auto client = LiveUpdatesClient::make(server.url("/apps"), {});
  auto refusal = [&](const std::string& app) {
    Device device{.platform = "linux", .platformVersion = "6", .binaryVersion = "1",
                  .deviceId = "d", .snapshot = std::nullopt, .build = std::nullopt};
    auto outcome = client->checkForUpdate(CheckRequest(device, false, app, "production"), {}, {});
    EXPECT_FALSE(outcome.has_value());
    const auto* error = outcome ? nullptr : outcome.error().get<NetworkClientError>();
    return error ? *error : NetworkClientError::decodingError({"", "no refusal"});
  };

  auto busy = refusal("busy");
  ASSERT_TRUE(std::holds_alternative<NetworkClientError::Qelvo>(busy.value()));
  EXPECT_EQ(std::get<NetworkClientError::Qelvo>(busy.value()).retryAfter, seconds(30));
  auto down = refusal("down");
  ASSERT_TRUE(std::holds_alternative<NetworkClientError::InvalidResponse>(down.value()));
  EXPECT_EQ(down.retryAfter(), kLongestRetryAfter);
  EXPECT_EQ(refusal("plain").retryAfter(), std::nullopt);
  auto manifest = client->fetchManifest(server.url("/manifest"), {}, {});
  ASSERT_FALSE(manifest.has_value());
  EXPECT_EQ(manifest.error().get<NetworkClientError>()->retryAfter(), seconds(5));

  using Reason = SyncError::Reason;
  auto atCheck = makeSyncError("busy", SyncError::FailStep::check, Reason::networkError(busy));
  EXPECT_EQ(atCheck.retryAfter(), seconds(30));
  // One file of a file-by-file download: the sync's error inside a network error.
  auto inFile = makeSyncError(
      "busy", SyncError::FailStep::download,
      Reason::networkError(NetworkClientError::networkError(Error(atCheck))));
  EXPECT_EQ(inFile.retryAfter(), seconds(30));
  EXPECT_EQ(makeSyncError("busy", SyncError::FailStep::check, Reason::metadataError("x")).retryAfter(),
            std::nullopt);
  // The texts stay what they were.
  EXPECT_EQ(atCheck.errorDescription(),
            "Failure occured during check step.\nNetwork Error - The operation couldn\u2019t be "
            "completed. (QelvoLiveUpdates.NetworkClientError error 3.)");
}

}  // namespace
}  // namespace qelvo
