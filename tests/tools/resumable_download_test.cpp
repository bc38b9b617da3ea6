// An archive whose transfer was interrupted half-way (its connection cut, or its process
// killed) resumes on the next sync with a range request, through the deploy server and
// through nginx serving the deploy root, and starts over when the file on the server
// changed in between.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>
#include <tuple>

#include "client/carried_errors.h"
#include "client/live_updates_client.h"
#include "support/background_process.h"
#include "support/cutting_relay.h"
#include "tools/local_processes.h"
#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A bundle whose archive does not deflate: random bytes, `bytes` of them.
Files incompressible(unsigned seed, std::size_t bytes) {
  std::mt19937 random(seed);
  std::string data(bytes, '\0');
  for (auto& byte : data) byte = static_cast<char>(random());
  return {{"index.html", "<h1>" + std::to_string(seed) + "</h1>"}, {"media/film.bin", data}};
}

// The parts of interrupted downloads that a host's work area keeps, and their sizes.
std::map<std::string, std::uintmax_t> keptParts(const CliHost& host) {
  std::map<std::string, std::uintmax_t> parts;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(host.dataDir() / "tmp/qelvo-work/partial", ec)) {
    if (!entry.path().string().ends_with(".validator"))
      parts[entry.path().filename()] = entry.file_size();
  }
  return parts;
}

// The deploy server answers the checks; the archives come from `origin` through a relay
// that cuts them off when told.
struct Origin {
  std::string name{};
  std::unique_ptr<CuttingRelay> files{};
  std::unique_ptr<DeployFixture> deploy{};
  std::unique_ptr<BackgroundProcess> nginx{};
  std::string server{};  // the host's --server
};

Origin throughDeployServer() {
  Origin setup{.name = "deploy server"};
  setup.deploy = std::make_unique<DeployFixture>();
  setup.files = std::make_unique<CuttingRelay>(setup.deploy->port());
  // Answers name the origin the check came to: the relay, for archives as well.
  setup.server = "http://127.0.0.1:" + std::to_string(setup.files->port()) + "/apps";
  return setup;
}

Origin throughNginx() {
  Origin setup{.name = "nginx"};
  const int port = freePort();
  setup.files = std::make_unique<CuttingRelay>(port);
  setup.deploy = std::make_unique<DeployFixture>(deploy::DeployServerOptions{
      .filesUrl = "http://127.0.0.1:" + std::to_string(setup.files->port()) + "/apps"});
  // nginx's worker reads the root as whoever it runs as.
  fs::permissions(setup.deploy->dir().path(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  setup.nginx = startNginx(setup.deploy->dir() / "nginx",
                           "  access_log off;\n  server {\n    listen 127.0.0.1:" +
                               std::to_string(port) + ";\n    location /apps/ { root " +
                               setup.deploy->root().path().string() + "; }\n  }\n",
                           port);
  setup.server = setup.deploy->appsUrl();
  return setup;
}

// Kills a sync of `host` once the archive it downloads has reached `bytes` in its part
// (the relay holds the transfer there).
void killWhileDownloading(const CliHost& host, std::uint64_t bytes) {
  BackgroundProcess sync(host.command({"sync", "film:production"}), host.dataDir() / "killed.out");
  auto parts = keptParts(host);
  for (int i = 0; i < 1000 && (parts.empty() || parts.begin()->second < bytes); ++i) {
    std::this_thread::sleep_for(10ms);
    parts = keptParts(host);
  }
  sync.stop(SIGKILL);
}

TEST(ResumableDownload,
     AnInterruptedArchiveResumesWhileTheServersFileIsUnchangedAndStartsOverWhenItChanged) {
  for (auto* make : {&throughDeployServer, &throughNginx}) {
    Origin setup = make();
    ASSERT_TRUE(setup.name != "nginx" || (setup.nginx && setup.nginx->running()))
        << "nginx is not installed or did not start: run scripts/install-deps (it installs nginx)";
    SCOPED_TRACE(setup.name);
    auto& deploy = *setup.deploy;
    auto& relay = *setup.files;
    CliHost host(setup.server, {"--quiet"});
    const auto snapshots = deploy.root().path() / "apps/film/snapshots";

    // Each version is interrupted half-way, by a cut connection or a killed process; the
    // next sync fetches the rest, and at most 5% of the archive twice.
    for (const auto& [id, seed, kill] : {std::tuple{"v1", 1u, false}, std::tuple{"v2", 2u, true}}) {
      SCOPED_TRACE(kill ? "killed" : "cut");
      const auto files = incompressible(seed, 3 << 20);
      deploy.publish("film", id, files);
      const auto archive = fs::file_size(snapshots / id / "bundle.zip");
      if (kill) {
        relay.holdAt(archive / 2);
        killWhileDownloading(host, archive / 2 - (64 << 10));
      } else {
        relay.cutAt(archive / 2);
        auto cut = host.run({"sync", "film:production"});
        EXPECT_NE(cut.exitCode, 0) << cut.out;
      }
      auto parts = keptParts(host);
      ASSERT_EQ(parts.size(), 1u);
      const auto kept = parts.begin()->second;
      EXPECT_GT(kept, archive / 2 - (64 << 10));
      EXPECT_LE(kept, archive / 2);

      relay.resetCount();
      auto resumed = host.sync({"film:production"});
      ASSERT_EQ(resumed.size(), 1u);
      expectSynced(resumed[0], files);
      EXPECT_LE(relay.answerBytes(), archive - kept + archive / 20) << "at most 5% fetched twice";
      EXPECT_TRUE(keptParts(host).empty());
      EXPECT_FALSE(fs::exists(host.dataDir() / "tmp/qelvo-work/partial"));
    }

    // v3 is cut off, then its archive changes on the server (another size, another
    // time): the kept part is useless, and the whole new archive arrives.
    const auto v3 = incompressible(3, 3 << 20);
    const auto replacement = incompressible(4, (3 << 20) + 1000);
    deploy.publish("film", "v3", v3);
    deploy.publish("film", "v4", replacement, "staging");
    relay.cutAt(fs::file_size(snapshots / "v3/bundle.zip") / 2);
    EXPECT_NE(host.run({"sync", "film:production"}).exitCode, 0);
    ASSERT_EQ(keptParts(host).size(), 1u);
    std::this_thread::sleep_for(1100ms);  // a Last-Modified of its own
    fs::copy_file(snapshots / "v4/bundle.zip", snapshots / "v3/bundle.zip",
                  fs::copy_options::overwrite_existing);
    relay.resetCount();
    auto restarted = host.sync({"film:production"});
    ASSERT_EQ(restarted.size(), 1u);
    expectSynced(restarted[0], replacement);
    EXPECT_GE(relay.answerBytes(), fs::file_size(snapshots / "v4/bundle.zip"));
    EXPECT_TRUE(keptParts(host).empty());
  }
}

// The bound on a body is on all of it: the part an earlier attempt kept counts with the
// rest that a range request brings, and a body that passes the bound keeps nothing. A
// part that was already whole (its process killed before the move) still resumes.
TEST(ResumableDownload, AKeptPartCountsAgainstTheBoundOfItsBodyAndAWholePartResumes) {
  DeployFixture deploy;
  CuttingRelay relay(deploy.port());
  deploy.publish("film", "v1", incompressible(1, 1 << 20));
  const auto served = deploy.root().path() / "apps/film/snapshots/v1/bundle.zip";
  const auto archive = fs::file_size(served);
  const std::string origin = "http://127.0.0.1:" + std::to_string(relay.port());
  const auto client = LiveUpdatesClient::make(*Url::parse(origin + "/apps"), {});
  TempDir work;
  const auto part = work.path() / "part";
  auto download = [&](std::uint64_t bound) {
    return downloadFileAndWait(
        *client,
        HttpRequest{.url = *Url::parse(origin + "/apps/film/snapshots/v1/bundle.zip"),
                    .maxBodyBytes = bound,
                    .resumeFile = part},
        [&](const fs::path& file) -> std::expected<void, Error> {
          fs::rename(file, work.path() / "bundle.zip");
          return {};
        },
        {});
  };

  relay.cutAt(archive / 2);
  ASSERT_FALSE(download(archive).has_value());
  ASSERT_TRUE(fs::exists(part));

  fs::copy_file(served, part, fs::copy_options::overwrite_existing);
  relay.resetCount();
  ASSERT_TRUE(download(archive).has_value());
  EXPECT_EQ(readFile(work.path() / "bundle.zip"), readFile(served));
  fs::remove(work.path() / "bundle.zip");
  EXPECT_LT(relay.answerBytes(), 4096u) << "only the last byte was asked for";

  relay.cutAt(archive / 2);
  ASSERT_FALSE(download(archive).has_value());
  const auto kept = fs::file_size(part);
  relay.resetCount();
  auto over = download(archive - 1);
  ASSERT_FALSE(over.has_value());
  const auto* transfer = carriedTransferError(over.error());
  ASSERT_NE(transfer, nullptr) << over.error().localizedDescription();
  EXPECT_EQ(transfer->curlCode, CURLE_FILESIZE_EXCEEDED) << transfer->message;
  EXPECT_LT(relay.answerBytes(), archive - kept + 4096) << "only the rest was asked for";
  EXPECT_FALSE(fs::exists(part));
  EXPECT_FALSE(fs::exists(part.string() + ".validator"));
  EXPECT_FALSE(fs::exists(work.path() / "bundle.zip"));
}

}  // namespace
}  // namespace qelvo::test
