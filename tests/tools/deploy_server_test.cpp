// The deploy server over a published root: what it offers, what it serves, and what it
// refuses, as the library's own client and a plain HTTP client see it.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "client/live_updates_client.h"
#include "publishing/app_lock.h"
#include "publishing/channel_moves.h"
#include "support/test_certificates.h"
#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

const Files kFiles = {{"index.html", "<h1>shop</h1>"}, {"js/app.js", "run()"}};

CheckRequest checkRequest(const std::string& appId, const std::string& channel, bool manifest,
                          const std::string& binaryVersion = "1.0.0") {
  Device device{"ios", "6.1", binaryVersion, "DEVICE-1", std::nullopt, std::nullopt};
  return CheckRequest(device, manifest, appId, channel);
}

std::expected<SuccessResponseData, Error> check(const std::string& appsUrl,
                                                const CheckRequest& request,
                                                const DeployServiceOptions& options = {}) {
  return LiveUpdatesClient::make(*Url::parse(appsUrl), options)->checkForUpdate(request, {}, {});
}

// The envelope of a refused check, or a failed test.
BraxoErrorResponse::LiveUpdateError refusal(
    const std::expected<SuccessResponseData, Error>& outcome) {
  EXPECT_FALSE(outcome.has_value());
  if (outcome) return {};
  const auto* client = outcome.error().get<NetworkClientError>();
  const auto* envelope =
      client ? std::get_if<NetworkClientError::Qelvo>(&client->value()) : nullptr;
  EXPECT_NE(envelope, nullptr) << outcome.error().localizedDescription();
  return envelope ? envelope->response.error : BraxoErrorResponse::LiveUpdateError{};
}

httplib::Client plainClient(const std::string& appsUrl) {
  auto url = *Url::parse(appsUrl);
  return httplib::Client(url.host(), *url.port());
}

TEST(DeployServer, OffersTheChannelsSnapshotWithTheArchiveOrTheManifest) {
  DeployFixture server;
  server.publish("shop", "v1", kFiles);
  server.publish("shop", "v2", kFiles);

  auto zip = check(server.appsUrl(), checkRequest("shop", "production", false));
  ASSERT_TRUE(zip) << zip.error().localizedDescription();
  EXPECT_EQ(*zip, (SuccessResponseData{.url = server.appsUrl() + "/shop/snapshots/v2/bundle.zip",
                                       .available = true,
                                       .snapshot = "v2",
                                       .partial = false,
                                       .build = 2,
                                       .compatible = true,
                                       .incompatibleUpdateAvailable = false}));
  auto differential = check(server.appsUrl(), checkRequest("shop", "production", true));
  ASSERT_TRUE(differential);
  EXPECT_EQ(differential->url,
            server.appsUrl() + "/shop/snapshots/v2/files/live-update-manifest.json");

  // Archives and files come with their length and exact bytes.
  auto client = plainClient(server.appsUrl());
  auto archive = client.Get("/apps/shop/snapshots/v2/bundle.zip");
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->status, 200);
  EXPECT_EQ(archive->body, readFile(server.root().snapshotDirectory("shop", "v2") / "bundle.zip"));
  EXPECT_EQ(archive->get_header_value("Content-Length"), std::to_string(archive->body.size()));
  EXPECT_EQ(archive->get_header_value("Content-Type"), "application/zip");
  auto script = client.Get("/apps/shop/snapshots/v2/files/js/app.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->body, "run()");
  EXPECT_EQ(script->get_header_value("Content-Length"), "5");

  // One access-log line per request, with status and bytes.
  auto log = server.accessLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_TRUE(log[3].starts_with("127.0.0.1 - - [")) << log[3];
  EXPECT_TRUE(log[3].ends_with("\"GET /apps/shop/snapshots/v2/files/js/app.js HTTP/1.1\" 200 5"))
      << log[3];

  // Snapshots for other binary versions are not offered.
  server.publish("pinned", "v1", kFiles, "production",
                 {.compatibleBinaryVersions = std::vector<std::string>{"2.0.0", "2.1.0"}});
  auto old = check(server.appsUrl(), checkRequest("pinned", "production", false, "1.0.0"));
  ASSERT_TRUE(old);
  EXPECT_EQ(*old, (SuccessResponseData{.url = std::nullopt,
                                       .available = false,
                                       .snapshot = std::nullopt,
                                       .partial = false,
                                       .build = std::nullopt,
                                       .compatible = false,
                                       .incompatibleUpdateAvailable = true}));
  auto current = check(server.appsUrl(), checkRequest("pinned", "production", false, "2.1.0"));
  ASSERT_TRUE(current);
  EXPECT_TRUE(current->available);
}

TEST(DeployServer, RefusalsCarryTheErrorEnvelope) {
  DeployFixture server;
  server.publish("shop", "v1", kFiles);

  auto app = refusal(check(server.appsUrl(), checkRequest("ghost", "production", false)));
  EXPECT_EQ(app.type, "not_found");
  EXPECT_NE(app.message.find("ghost"), std::string::npos);
  EXPECT_EQ(app.eventId.size(), 36u);
  auto channel = refusal(check(server.appsUrl(), checkRequest("shop", "beta", false)));
  EXPECT_EQ(channel.type, "not_found");
  EXPECT_NE(channel.message.find("beta"), std::string::npos);
  EXPECT_NE(channel.eventId, app.eventId);

  auto client = plainClient(server.appsUrl());
  const std::string path = "/apps/shop/channels/check-device";
  auto valid = nlohmann::json::parse(*checkRequest("shop", "production", false).toJson());
  auto otherApp = valid;
  otherApp["app_id"] = "menu";
  auto noChannel = valid;
  noChannel.erase("channel_name");
  for (const auto& body :
       {std::string("{not json"), std::string("[]"), otherApp.dump(), noChannel.dump()}) {
    auto response = client.Post(path, body, "application/json");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 400) << body;
    auto envelope = decodeBraxoErrorResponse(response->body);
    ASSERT_TRUE(envelope) << response->body;
    EXPECT_EQ(envelope->error.type, "bad_request");
  }
  auto ok = client.Post(path, valid.dump(), "application/json");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->status, 200);
}

TEST(DeployServer, ServesNothingOutsideTheBundles) {
  DeployFixture server;
  server.publish("shop", "v1", kFiles);
  const auto snapshot = server.root().snapshotDirectory("shop", "v1");
  std::filesystem::create_symlink("/etc/hostname", snapshot / "files/escape.txt");
  std::filesystem::create_directories(server.root().snapshotsDirectory("shop") /
                                      ".v2.tmp-abc/files");
  writeFile(server.root().snapshotsDirectory("shop") / ".v2.tmp-abc/files/index.html", "half");

  auto client = plainClient(server.appsUrl());
  for (const std::string path : {
           "/apps/shop/snapshots/v1/snapshot.json",
           "/apps/shop/channels/production.json",
           "/apps/shop/.lock",
           "/apps/shop/snapshots/v1/files",
           "/apps/shop/snapshots/v1/files/",
           "/apps/shop/snapshots/v1/files/escape.txt",
           "/apps/shop/snapshots/v1/files/../snapshot.json",
           "/apps/shop/snapshots/v1/files/%2e%2e/snapshot.json",
           "/apps/shop/snapshots/v1/files/js%2F..%2F..%2Fsnapshot.json",
           "/apps/shop/snapshots/%2e%2e/v1/bundle.zip",
           "/apps/shop/snapshots/.v2.tmp-abc/files/index.html",
           "/apps/..%2F..%2Fetc/snapshots/passwd/bundle.zip",
           "/apps/shop/snapshots/v1/bundle.zip/x",
           "/elsewhere/shop/snapshots/v1/bundle.zip",
       }) {
    auto response = client.Get(path);
    ASSERT_TRUE(response) << path;
    EXPECT_EQ(response->status, 404) << path;
    EXPECT_TRUE(decodeBraxoErrorResponse(response->body)) << path;
  }
  auto put = client.Put("/apps/shop/snapshots/v1/files/index.html", "evil", "text/html");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 405);
  EXPECT_EQ(server.requests("\"PUT /apps/shop/snapshots/v1/files/index.html HTTP/1.1\" 405"), 1u);
  auto good = client.Get("/apps/shop/snapshots/v1/files/index.html");
  ASSERT_TRUE(good);
  EXPECT_EQ(good->status, 200);
}

TEST(DeployServer, ServesHttpsBelowAPrefix) {
  TempDir certificates;
  auto tls = makeTestCertificates(certificates.path());
  DeployFixture server(
      {.prefix = "/deploy", .tlsCertificate = tls.serverCertificate, .tlsKey = tls.serverKey});
  server.publish("shop", "v1", kFiles);
  EXPECT_TRUE(server.appsUrl().starts_with("https://127.0.0.1:"));
  EXPECT_TRUE(server.appsUrl().ends_with("/deploy/apps"));

  auto offered = check(server.appsUrl(), checkRequest("shop", "production", true),
                       {.caFile = tls.caCertificate});
  ASSERT_TRUE(offered) << offered.error().localizedDescription();
  EXPECT_EQ(offered->url, server.appsUrl() + "/shop/snapshots/v1/files/live-update-manifest.json");

  CliHost host(server.appsUrl(), {"--quiet", "--ca-file", tls.caCertificate.string()});
  auto lines = host.sync({"shop:production:differential"});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["ok"], true) << lines[0].dump();
}

// A device checking and downloading while the channel moves between snapshots sees,
// each time, a complete snapshot: never a missing or half-written file.
TEST(DeployServer, ChannelMovesAreNeverSeenHalfDone) {
  DeployFixture server;
  server.publish("shop", "s0", kFiles);
  std::atomic<bool> publishing = true;
  std::thread publisher([&] {
    for (int i = 1; i <= 15; ++i) server.publish("shop", "s" + std::to_string(i), kFiles);
    auto lock = publishing::AppLock::acquire(server.root().appDirectory("shop"));
    for (int i = 0; i < 15; ++i) {
      EXPECT_TRUE(
          publishing::rollbackChannel(server.root(), *lock, "shop", "production", std::nullopt));
    }
    publishing = false;
  });
  auto client = plainClient(server.appsUrl());
  int checks = 0;
  while (publishing || checks == 0) {
    auto offered = check(server.appsUrl(), checkRequest("shop", "production", false));
    ASSERT_TRUE(offered) << offered.error().localizedDescription();
    auto path = Url::parse(*offered->url)->path();
    auto archive = client.Get(path);
    ASSERT_TRUE(archive);
    ASSERT_EQ(archive->status, 200) << path;
    ASSERT_EQ(archive->body,
              readFile(server.root().snapshotDirectory("shop", *offered->snapshot) / "bundle.zip"));
    ++checks;
  }
  publisher.join();
  EXPECT_GT(checks, 1);
}

}  // namespace
}  // namespace qelvo::test
