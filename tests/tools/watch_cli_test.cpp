// `qelvo-live-update watch` as a service runs it: its own process, syncing on its own
// schedule against a deploy server on loopback, stopped with SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "publishing/app_lock.h"
#include "publishing/channel_moves.h"
#include "support/background_process.h"
#include "support/loopback_server.h"
#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// The JSON lines a watch printed so far.
std::vector<json> watchLines(const BackgroundProcess& watch) {
  ToolRun run{0, watch.output(), ""};
  return run.jsonLines();
}

// Waits until the watch printed `count` JSON lines (or 10 s pass).
std::vector<json> waitForLines(BackgroundProcess& watch, std::size_t count) {
  for (auto deadline = std::chrono::steady_clock::now() + 10s;
       std::chrono::steady_clock::now() < deadline && watch.running();
       std::this_thread::sleep_for(10ms)) {
    if (watchLines(watch).size() >= count) break;
  }
  return watchLines(watch);
}

TEST(WatchCli, KeepsAnAppUpToDateRunsTheHookAndStopsMidSyncWithTheCacheAsItWas) {
  TempDir work;
  // Archives come from a files origin that holds v2's half-sent: a sync of v2 stays in its
  // download.
  TestDeployServer files;
  DeployFixture server({.filesUrl = files.http().url("/apps").text()});
  auto serveArchive = [&](const std::string& id, const Files& bundle) {
    server.publish("shop", id, bundle, "staging");
    const auto archive = readFile(server.root().snapshotDirectory("shop", id) / "bundle.zip");
    const auto path = "/apps/shop/snapshots/" + id + "/bundle.zip";
    if (id == "v1") {
      files.serve(path, archive);
    } else {
      files.serveStalled(path, archive, archive.size() / 2);
    }
    auto lock = publishing::AppLock::acquire(server.root().appDirectory("shop"));
    ASSERT_TRUE(lock && publishing::moveChannel(server.root(), *lock, "shop", "production", id));
  };
  serveArchive("v1", {{"index.html", "v1"}, {"js/app.js", std::string(300000, 'x')}});
  CliHost host(server.appsUrl(), {"--quiet"});
  const auto hooks = work / "hooks.txt";
  BackgroundProcess watch(
      host.command({"watch", "shop:production", "--interval", "0.3", "--jitter", "0.1", "--seed",
                    "7", "--on-update",
                    "echo \"$QELVO_APP_ID $QELVO_SNAPSHOT $QELVO_DIRECTORY\" >> " + hooks.string()}),
      work / "watch.log");

  // The first sync comes within the first interval and downloads v1; later ones find
  // it in the cache and leave the hook alone.
  auto lines = waitForLines(watch, 3);
  ASSERT_GE(lines.size(), 3u) << watch.output();
  EXPECT_EQ(lines[0]["app_id"], "shop");
  EXPECT_EQ(lines[0]["ok"], true);
  EXPECT_EQ(lines[0]["snapshot"], "v1");
  EXPECT_EQ(lines[0]["source"], "download");
  const auto v1Directory = lines[0]["directory"].get<std::string>();
  for (const auto& line : lines) {
    EXPECT_GE(line["next_sync_in"].get<double>(), 0.2) << line;
    EXPECT_LE(line["next_sync_in"].get<double>(), 0.4) << line;
    EXPECT_EQ(line["next_sync_at"].get<std::string>().size(), 20u) << line;
  }
  EXPECT_EQ(lines[1]["source"], "cache");
  EXPECT_EQ(lines[1]["latest_app_directory_changed"], false);
  EXPECT_EQ(readFile(hooks), "shop v1 " + v1Directory + "\n");

  // v2's download stalls half-way; SIGTERM then cancels the sync and ends the watch.
  serveArchive("v2", {{"index.html", "v2"}, {"js/app.js", std::string(300000, 'y')}});
  const std::string v2Archive = "/apps/shop/snapshots/v2/bundle.zip";
  for (int i = 0; i < 1000 && files.count("GET", v2Archive) == 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(files.count("GET", v2Archive), 1u) << watch.output();
  const auto before = watchLines(watch).size();
  EXPECT_EQ(watch.stop(SIGTERM), 0) << watch.output();
  lines = watchLines(watch);
  ASSERT_EQ(lines.size(), before + 1) << watch.output();
  EXPECT_EQ(lines.back()["ok"], false);
  EXPECT_EQ(lines.back()["fail_step"], "download");
  EXPECT_EQ(lines.back()["retry_after"], nullptr);
  EXPECT_EQ(lines.back()["next_sync_at"], nullptr);
  EXPECT_EQ(lines.back()["next_sync_in"], nullptr);

  // The device is exactly on v1: nothing of v2 in the cache, no work left (the watch
  // ends after the library's cleanup), the hook never ran for v2.
  auto dir = host.run({"dir", "shop:production"});
  EXPECT_EQ(dir.out, v1Directory + "\n");
  std::vector<std::string> cached;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(v1Directory).parent_path())) {
    cached.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(cached, std::vector<std::string>{"v1"});
  const auto workArea = host.dataDir() / "tmp" / "qelvo-work";
  EXPECT_TRUE(!std::filesystem::exists(workArea) || std::filesystem::is_empty(workArea));
  EXPECT_EQ(readFile(hooks), "shop v1 " + v1Directory + "\n");
}

TEST(WatchCli, HonoursRetryAfterBacksOffAndStopsWhileWaiting) {
  LoopbackServer service;
  std::mutex mutex;
  std::vector<std::chrono::steady_clock::time_point> checks;
  service.handle("POST", "/apps/shop/channels/check-device",
                 [&](const httplib::Request&, httplib::Response& res) {
                   std::lock_guard lock(mutex);
                   checks.push_back(std::chrono::steady_clock::now());
                   if (checks.size() == 1) {
                     res.status = 429;
                     res.set_header("Retry-After", "1");
                     res.set_content(R"({"error":{"message":"slow down","type":"rate","event_id":"e"}})",
                                     "application/json");
                   } else if (checks.size() == 2) {
                     res.status = 503;
                   } else {
                     res.set_content(R"({"data":{"available":false,"partial":false,"compatible":true,)"
                                     R"("incompatibleUpdateAvailable":false}})",
                                     "application/json");
                   }
                 });
  TempDir work;
  CliHost host(service.url("/apps").text(), {"--quiet"});
  BackgroundProcess watch(
      host.command({"watch", "shop:production", "--interval", "600", "--jitter", "0.2",
                    "--first-sync-within", "0.1", "--retry-min", "0.05", "--retry-max", "0.1"}),
      work / "watch.log");

  auto lines = waitForLines(watch, 3);
  ASSERT_EQ(lines.size(), 3u) << watch.output();
  // The service's Retry-After beats the short back-off...
  EXPECT_EQ(lines[0]["ok"], false);
  EXPECT_EQ(lines[0]["fail_step"], "check");
  EXPECT_EQ(lines[0]["retry_after"], 1);
  EXPECT_GE(lines[0]["next_sync_in"].get<double>(), 1.0);
  EXPECT_LE(lines[0]["next_sync_in"].get<double>(), 1.2);
  // ...a refusal without one backs off (the second failure in a row)...
  EXPECT_EQ(lines[1]["retry_after"], nullptr);
  EXPECT_GE(lines[1]["next_sync_in"].get<double>(), 0.05);
  EXPECT_LE(lines[1]["next_sync_in"].get<double>(), 0.1);
  // ...and a success returns to the interval.
  EXPECT_EQ(lines[2]["ok"], true);
  EXPECT_EQ(lines[2]["source"], "cache");
  EXPECT_GE(lines[2]["next_sync_in"].get<double>(), 599.8);
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(checks.size(), 3u);
    EXPECT_GE(checks[1] - checks[0], 1s) << "the wait the service asked for";
  }

  // Waiting ten minutes for its next sync, it stops at once.
  auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(watch.stop(SIGTERM), 0) << watch.output();
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 5s);
  EXPECT_EQ(watchLines(watch).size(), 3u);
}

}  // namespace
}  // namespace qelvo::test
