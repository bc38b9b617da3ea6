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

// What a refusal of a check or of a manifest fetch carries, up to the sync's error. (A
// refusal with the service's envelope, with and without the header, is the watch
// command's own case.)
TEST(RetryAfter, ARefusalCarriesItUpToTheSyncError) {
  LoopbackServer server;
  server.handle("POST", "/apps/down/.*", [](const httplib::Request&, httplib::Response& res) {
    res.status = 503;
    res.set_header("Retry-After", "Fri, 31 Dec 9999 23:59:59 GMT");
    res.set_content("<html>maintenance</html>", "text/html");
  });
  server.handle("GET", "/manifest", [](const httplib::Request&, httplib::Response& res) {
    res.status = 503;
    res.set_header("Retry-After", "5");
  });
  auto client = LiveUpdatesClient::make(server.url("/apps"), {});
  Device device{.platform = "linux", .platformVersion = "6", .binaryVersion = "1",
                .deviceId = "d", .snapshot = std::nullopt, .build = std::nullopt};
  auto check = client->checkForUpdate(CheckRequest(device, false, "down", "production"), {}, {});
  ASSERT_FALSE(check.has_value());
  const auto* down = check.error().get<NetworkClientError>();
  ASSERT_NE(down, nullptr) << check.error().localizedDescription();
  ASSERT_TRUE(std::holds_alternative<NetworkClientError::InvalidResponse>(down->value()));
  EXPECT_EQ(down->retryAfter(), kLongestRetryAfter);
  auto manifest = client->fetchManifest(server.url("/manifest"), {}, {});
  ASSERT_FALSE(manifest.has_value());
  EXPECT_EQ(manifest.error().get<NetworkClientError>()->retryAfter(), seconds(5));

  using Reason = SyncError::Reason;
  auto atCheck = makeSyncError("down", SyncError::FailStep::check, Reason::networkError(*down));
  EXPECT_EQ(atCheck.retryAfter(), kLongestRetryAfter);
  // One file of a file-by-file download: the sync's error inside a network error.
  auto inFile = makeSyncError(
      "down", SyncError::FailStep::download,
      Reason::networkError(NetworkClientError::networkError(Error(atCheck))));
  EXPECT_EQ(inFile.retryAfter(), kLongestRetryAfter);
  auto metadata = makeSyncError("down", SyncError::FailStep::check, Reason::metadataError("x"));
  EXPECT_EQ(metadata.retryAfter(), std::nullopt);
}

}  // namespace
}  // namespace qelvo
