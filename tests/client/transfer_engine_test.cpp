// The transfer engine through the standard client: cancellation, the idle timeout,
// TLS verification, and bounded resources under thousands of queued transfers.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "carried_errors.h"
#include "client/live_updates_client.h"
#include "support/loopback_server.h"
#include "support/sync_fixture.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"
#include "support/test_host.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::LoopbackServer;
using Clock = std::chrono::steady_clock;

// Far longer than any test waits: a call that returns at all returned because of the
// client, not because the server gave up.
constexpr auto kServerDelay = 30s;

// Collects the outcomes of downloads completing on the engine's thread.
class Outcomes {
 public:
  explicit Outcomes(std::size_t count) : outcomes_(count) {}

  LiveUpdatesClient::DownloadCompletion completion(std::size_t index) {
    return [this, index](std::expected<void, Error> outcome) {
      std::lock_guard lock(mutex_);
      outcomes_[index] = std::move(outcome);
      ++done_;
      changed_.notify_all();
    };
  }
  // Waits until `count` downloads have completed; false after 60 s.
  bool waitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 60s, [&] { return done_ >= count; });
  }
  std::optional<std::expected<void, Error>> at(std::size_t index) {
    std::lock_guard lock(mutex_);
    return outcomes_[index];
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::optional<std::expected<void, Error>>> outcomes_;
  std::size_t done_ = 0;
};

bool isCancellation(const std::optional<std::expected<void, Error>>& outcome) {
  if (!outcome || outcome->has_value()) return false;
  const Error* cause = test::networkErrorCause(outcome->error());
  return cause && cause->get<CancellationError>();
}

LiveUpdatesClient::MoveFile keepNothing() {
  return [](const fs::path&) -> std::expected<void, Error> { return {}; };
}

void stallRequests(LoopbackServer& server, const std::string& method, const std::string& path) {
  server.handle(method, path, [&server](const httplib::Request&, httplib::Response& res) {
    server.waitForStop(kServerDelay);
    res.status = 204;
  });
}

// Each request goes to the I/O thread with the fewest transfers, the first among equals:
// requests made one after another find the connection the previous one left open.
TEST(TransferEngine, RequestsOneAfterAnotherShareOneConnection) {
  LoopbackServer server(LoopbackServer::Options{.keepAlive = kServerDelay});
  server.handle("GET", "/m", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{}", "application/json");
  });
  auto client = LiveUpdatesClient::make(server.url("/apps"), {});
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(client->fetchManifest(server.url("/m"), {}, {}));
  EXPECT_EQ(server.connectionCount(), 1u);
}

TEST(TransferEngine, QueuedTransfersCancelWithoutWaitingForASlotAndEndWithTheClient) {
  test::TestHost host;
  LoopbackServer server;
  stallRequests(server, "GET", "/slow");
  auto client = LiveUpdatesClient::make(server.url("/apps"), {.maxActiveTransfers = 1});
  Outcomes outcomes(2);
  bool queuedMoved = false;

  client->downloadFile(HttpRequest{.url = server.url("/slow")}, keepNothing(), {},
                       outcomes.completion(0));
  ASSERT_TRUE(test::eventually([&] { return server.requestCount() == 1; }));
  std::stop_source queuedStop;
  client->downloadFile(
      HttpRequest{.url = server.url("/queued")},
      [&](const fs::path&) -> std::expected<void, Error> {
        queuedMoved = true;
        return {};
      },
      queuedStop.get_token(), outcomes.completion(1));
  queuedStop.request_stop();

  ASSERT_TRUE(outcomes.waitFor(1));
  EXPECT_TRUE(isCancellation(outcomes.at(1)));
  EXPECT_FALSE(outcomes.at(0).has_value());  // the running one is not disturbed
  EXPECT_FALSE(queuedMoved);

  client.reset();  // the client's engine ends what is still running
  ASSERT_TRUE(outcomes.waitFor(2));
  EXPECT_TRUE(isCancellation(outcomes.at(0)));
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_TRUE(test::listFiles(host.tmp()).empty());
}

TEST(TransferEngine, CertificatesAreVerifiedAgainstTheGivenAuthority) {
  test::TempDir directory;
  auto certificates = test::makeTestCertificates(directory.path());
  LoopbackServer server({.certificateFile = certificates.serverCertificate,
                         .privateKeyFile = certificates.serverKey});
  server.handle("GET", "/m", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("secret", "text/plain");
  });
  ASSERT_EQ(server.url("/m").scheme(), "https");

  auto trusting =
      LiveUpdatesClient::make(server.url("/apps"), {.caFile = certificates.caCertificate});
  auto fetched = trusting->fetchManifest(server.url("/m"), {}, {});
  ASSERT_TRUE(fetched.has_value()) << fetched.error().localizedDescription();
  EXPECT_EQ(fetched->body, "secret");

  auto defaults = LiveUpdatesClient::make(server.url("/apps"), {});
  auto refused = defaults->fetchManifest(server.url("/m"), {}, {});
  ASSERT_FALSE(refused.has_value());
  const auto* verification = test::carriedTransferError(refused.error());
  ASSERT_NE(verification, nullptr) << refused.error().localizedDescription();
  EXPECT_EQ(verification->curlCode, CURLE_PEER_FAILED_VERIFICATION);
  EXPECT_EQ(server.requestCount(), 1u);
}

std::size_t openDescriptors() {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST(TransferEngine, ThousandsOfQueuedDownloadsKeepDescriptorsAndConnectionsBounded) {
  test::TestHost host;
  test::TempDir destination;
  LoopbackServer server;
  server.handle("GET", "/files/[0-9]+", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content("content of " + req.path, "application/octet-stream");
  });
  auto client = LiveUpdatesClient::make(server.url("/apps"), {});
  constexpr std::size_t kFiles = 1500;
  Outcomes outcomes(kFiles);
  std::size_t baseline = openDescriptors();
  std::atomic<std::size_t> peak = baseline;

  for (std::size_t i = 0; i < kFiles; ++i) {
    auto name = std::to_string(i);
    client->downloadFile(
        HttpRequest{.url = server.url("/files/" + name)},
        [&, name](const fs::path& file) -> std::expected<void, Error> {
          std::size_t now = openDescriptors();
          std::size_t seen = peak.load();
          while (now > seen && !peak.compare_exchange_weak(seen, now)) {
          }
          fs::rename(file, destination / name);
          return {};
        },
        {}, outcomes.completion(i));
  }
  ASSERT_TRUE(outcomes.waitFor(kFiles));

  for (std::size_t i = 0; i < kFiles; ++i) {
    ASSERT_TRUE(outcomes.at(i)->has_value())
        << i << ": " << outcomes.at(i)->error().localizedDescription();
    ASSERT_EQ(test::readFile(destination / std::to_string(i)),
              "content of /files/" + std::to_string(i));
  }
  // Queued transfers hold neither a socket nor a file: the peak stays near the number
  // of running transfers, far below the number queued.
  EXPECT_LT(peak.load() - baseline, 150u);
  EXPECT_LE(server.connectionCount(), DeployServiceOptions{}.maxConnectionsPerHost);
  EXPECT_EQ(server.requestCount(), kFiles);
  EXPECT_TRUE(test::listFiles(host.tmp()).empty());
}

}  // namespace
}  // namespace qelvo
