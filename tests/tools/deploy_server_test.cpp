// The deploy server over a published root: what it offers, what it serves, and what it
// refuses, as the library's own client and a plain HTTP client see it.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <set>
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
                                                const CheckRequest& request) {
  return LiveUpdatesClient::make(*Url::parse(appsUrl), {})->checkForUpdate(request, {}, {});
}

// Answers name the origin the check came to, or the files origin the server was given.
TEST(DeployServer, OffersTheChannelsSnapshotWithTheArchiveOrTheManifestOnTheFilesOrigin) {
  DeployFixture server;
  DeployFixture behindCdn({.filesUrl = "https://cdn.example.com/deploy/apps/"});
  for (auto* deploy : {&server, &behindCdn}) {
    deploy->publish("shop", "v1", kFiles);
    deploy->publish("shop", "v2", kFiles);
    const auto origin =
        deploy == &server ? server.appsUrl() : std::string("https://cdn.example.com/deploy/apps");
    for (const auto& [manifest, path] :
         {std::pair{false, "/shop/snapshots/v2/bundle.zip"},
          std::pair{true, "/shop/snapshots/v2/files/live-update-manifest.json"}}) {
      auto offer = check(deploy->appsUrl(), checkRequest("shop", "production", manifest));
      ASSERT_TRUE(offer) << offer.error().localizedDescription();
      EXPECT_EQ(*offer, (SuccessResponseData{.url = origin + path,
                                             .available = true,
                                             .snapshot = "v2",
                                             .partial = false,
                                             .build = 2,
                                             .compatible = true,
                                             .incompatibleUpdateAvailable = false}));
    }
  }
  for (const std::string bad : {"ftp://cdn.example.com/apps", "/apps", "https://"}) {
    EXPECT_THROW(deploy::DeployServer({.root = server.root().path(), .filesUrl = bad}),
                 std::runtime_error)
        << bad;
  }

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

// The envelope's layout and the answers' headers are pinned by the documented examples.
TEST(DeployServer, RefusalsCarryTheErrorEnvelope) {
  DeployFixture server;
  server.publish("shop", "v1", kFiles);
  httplib::Client client("127.0.0.1", server.port());
  const auto valid = nlohmann::json::parse(checkBody("shop"));
  auto with = [&](const std::string& key, const nlohmann::json& value) {
    auto body = valid;
    value.is_null() ? void(body.erase(key)) : void(body[key] = value);
    return body.dump();
  };
  const struct {
    std::string app, body;
    int status;
    std::string type, mentions;
  } cases[] = {
      {"ghost", with("app_id", "ghost"), 404, "not_found", "ghost"},
      {"shop", with("channel_name", "beta"), 404, "not_found", "beta"},
      {"shop", "{not json", 400, "bad_request", ""},
      {"shop", "[]", 400, "bad_request", ""},
      {"shop", with("app_id", "menu"), 400, "bad_request", ""},
      {"shop", with("channel_name", nullptr), 400, "bad_request", ""},
  };
  std::set<std::string> eventIds;
  for (const auto& [app, body, status, type, mentions] : cases) {
    auto response = client.Post("/apps/" + app + "/channels/check-device", body, "application/json");
    ASSERT_TRUE(response) << body;
    EXPECT_EQ(response->status, status) << body;
    auto envelope = decodeBraxoErrorResponse(response->body);
    ASSERT_TRUE(envelope) << response->body;
    EXPECT_EQ(envelope->error.type, type) << body;
    EXPECT_NE(envelope->error.message.find(mentions), std::string::npos) << envelope->error.message;
    EXPECT_EQ(envelope->error.eventId.size(), 36u);
    eventIds.insert(envelope->error.eventId);
  }
  EXPECT_EQ(eventIds.size(), std::size(cases)) << "an event id of its own for each";
  auto ok = client.Post("/apps/shop/channels/check-device", valid.dump(), "application/json");
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

  httplib::Client client("127.0.0.1", server.port());
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
  httplib::Client client("127.0.0.1", server.port());
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
