// qelvo-live-update end to end: publisher, deploy server and library, through the
// command line as scripts use it.
#include <gtest/gtest.h>

#include <future>
#include <set>

#include "qelvo/errors.h"
#include "support/test_keys.h"
#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

using nlohmann::json;

const Files kVersion1 = {{"index.html", "<h1>v1</h1>"},
                         {"css/site.css", "body{}"},
                         {"js/app.js", "console.log(1)"},
                         {"img/logo.png", std::string("\x89PNG\r\n\x1a\n\0\0", 10)}};

Files withChanges(Files files, const Files& changes) {
  for (const auto& [href, content] : changes) files[href] = content;
  return files;
}

std::string checkFailure() {
  return "Failure occured during check step.\nNetwork Error - " +
         genericErrorDescription("NetworkClientError", 3);
}

// The sync line's fields are pinned by the documented examples; caching and channel moves
// by the library's sync tests. What is the command line's own: one line per app in the
// order given, a failed app on its own line with exit 1, the library's log beside them,
// --existing-cache handed to the app it names, `dir` printing the path alone, and the
// commands that read and trim the cache.
TEST(LiveUpdateCli, SyncsZipAndDifferentialAppsAsOneListAndReportsEachAsJson) {
  DeployFixture server;
  server.publish("shop", "v1", kVersion1);
  server.publish("menu", "m1", {{"index.html", "menu"}});
  TempDir shipped;  // the copy of m1 that ships with the host
  std::filesystem::copy(server.root().snapshotDirectory("menu", "m1") / "files", shipped.path(),
                        std::filesystem::copy_options::recursive);
  CliHost host(server.appsUrl());

  auto run = host.run({"sync", "shop:production", "menu:production:differential",
                       "ghost:production", "--existing-cache", "menu=" + shipped.path().string()});
  ASSERT_EQ(run.exitCode, 1) << run.out << run.err;
  auto lines = run.jsonLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["app_id"], "shop");
  EXPECT_EQ(lines[0]["source"], "download");
  EXPECT_EQ(lines[1]["snapshot"], "m1");
  expectSynced(lines[0], kVersion1);
  expectSynced(lines[1], {{"index.html", "menu"}});
  EXPECT_EQ(
      lines[2].dump(),
      json({{"app_id", "ghost"}, {"ok", false}, {"fail_step", "check"}, {"error", checkFailure()}})
          .dump());
  EXPECT_EQ(server.requests("GET /apps/shop/snapshots/v1/bundle.zip"), 1u);
  EXPECT_EQ(server.requests("GET /apps/menu/"), 1u) << "the manifest; the files were shipped";
  for (const auto& line : run.lines()) {
    EXPECT_TRUE(line.starts_with("{") || line.starts_with("LiveUpdateManager - ")) << line;
  }

  auto again = host.sync({"shop:production", "--quiet"});
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0]["source"], "cache");
  EXPECT_EQ(again[0]["latest_app_directory_changed"], false);

  // Registering the app for `dir` trims (and logs removing) v1; the output stays the path.
  server.publish("shop", "v2", withChanges(kVersion1, {{"index.html", "<h1>v2</h1>"}}));
  const auto v2 = host.sync({"shop:production", "--quiet"}).at(0)["directory"].get<std::string>();
  auto dir = host.run({"dir", "shop:production", "--max-versions", "0"});
  EXPECT_EQ(dir.exitCode, 0);
  EXPECT_EQ(dir.out, v2 + "\n");
  EXPECT_FALSE(std::filesystem::exists(lines[0]["directory"].get<std::string>()));

  server.publish("shop", "v3", kVersion1);
  const auto v3 = host.sync({"shop:production", "--quiet"}).at(0)["directory"].get<std::string>();
  auto lastSync = host.run({"last-sync", "shop:production"});
  EXPECT_EQ(lastSync.exitCode, 0);
  EXPECT_EQ(lastSync.out.size(), std::string("2025-01-01T00:00:00Z\n").size()) << lastSync.out;
  EXPECT_EQ(host.run({"last-sync"}).out, lastSync.out) << "the latest of every cached app";
  ASSERT_TRUE(std::filesystem::exists(v2));
  auto clean = host.run({"clean", "shop:production", "--max-versions", "0", "--quiet"});
  EXPECT_EQ(clean.exitCode, 0);
  EXPECT_EQ(clean.out, "");
  EXPECT_FALSE(std::filesystem::exists(v2)) << "unused v2 trimmed";
  EXPECT_TRUE(std::filesystem::exists(v3));
  EXPECT_EQ(host.run({"reset"}).exitCode, 0);
  EXPECT_EQ(host.run({"dir", "shop:production"}).exitCode, 3);
  EXPECT_EQ(host.run({"last-sync", "shop:production"}).exitCode, 3);
  EXPECT_FALSE(std::filesystem::exists(v3));
}

// A scheduled run and a manual one at the same moment: the second waits for the first
// and finds the snapshot it left, whichever strategy.
TEST(LiveUpdateCli, TwoProcessesSyncingOneAppBothSucceedAndLeaveOneSnapshot) {
  DeployFixture server;
  Files big = kVersion1;
  for (int i = 0; i < 300; ++i) big["f/" + std::to_string(i) + ".js"] = std::string(2000, 'x');
  server.publish("shop", "v1", big);
  for (const char* spec : {"shop:production", "shop:production:differential"}) {
    CliHost host(server.appsUrl(), {"--quiet"});
    auto first = std::async(std::launch::async, [&] { return host.run({"sync", spec}); });
    auto second = host.run({"sync", spec});
    auto firstRun = first.get();
    ASSERT_EQ(firstRun.exitCode, 0) << firstRun.out << firstRun.err;
    ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
    const auto app = host.dataDir() / "Library" / "qelvo_apps" / "shop";
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(app)) {
      entries.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(entries, std::vector<std::string>{"v1"}) << spec;
    expectFilesIn(app / "v1", big);
    std::set<std::string> sources = {firstRun.jsonLines()[0]["source"], second.jsonLines()[0]["source"]};
    EXPECT_EQ(sources, (std::set<std::string>{"cache", "download"})) << spec;
  }
}

// Signed releases through the publishing tool: both strategies take them under
// --public-key, and a rollback of a signed channel needs the key and is a new release of
// the old files, which devices accept.
TEST(LiveUpdateCli, SignedReleasesAndRollbacksRoundTrip) {
  DeployFixture server;
  TempDir keys;
  writeFile(keys / "public.pem", testKey().publicKeyPem());
  writePrivateFile(keys / "private.pem", testKey().privateKeyPem());
  const auto root = server.root().path();
  const std::vector<std::string> key{"--key", (keys / "private.pem").string()};
  const auto version2 = withChanges(kVersion1, {{"js/app.js", "console.log(2)"}});
  for (const auto& [id, files] : {std::pair{"v1", kVersion1}, std::pair{"v2", version2}}) {
    auto published = publishFiles(root, "kiosk", id, files, key);
    ASSERT_EQ(published.exitCode, 0) << published.err;
  }
  auto rollback = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{"rollback", "--root", root.string(), "--app", "kiosk",
                                  "--channel", "production"};
    args.insert(args.end(), extra.begin(), extra.end());
    return runTool(QELVO_PUBLISH_TOOL, args);
  };
  const std::vector<std::string> secure{"--quiet", "--name", "secure", "--public-key",
                                        (keys / "public.pem").string(), "--require-claims"};
  CliHost host(server.appsUrl(), secure);
  auto sharing = secure;
  sharing.push_back("--share-unchanged");
  const CliHost differential(server.appsUrl(), sharing);
  EXPECT_EQ(host.sync({"kiosk:production"}).at(0)["snapshot"], "v2");
  EXPECT_EQ(differential.sync({"kiosk:production:differential"}).at(0)["snapshot"], "v2");

  auto withoutKey = rollback({});
  EXPECT_EQ(withoutKey.exitCode, 1);
  EXPECT_NE(withoutKey.err.find("is signed"), std::string::npos) << withoutKey.err;
  auto rolledBack = rollback(key);
  ASSERT_EQ(rolledBack.exitCode, 0) << rolledBack.err;
  const std::string release = json::parse(rolledBack.out)["snapshot"];
  EXPECT_NE(release, "v1") << "a new release of v1's files";
  auto back = host.sync({"kiosk:production"});
  EXPECT_EQ(back[0]["snapshot"], release);
  expectSynced(back[0], kVersion1);
  // Files the release did not change are the files of the snapshot before it.
  auto shared = differential.sync({"kiosk:production:differential"});
  expectSynced(shared[0], kVersion1);
  const std::filesystem::path directory = shared[0]["directory"].get<std::string>();
  EXPECT_EQ(std::filesystem::hard_link_count(directory / "index.html"), 2u);
  EXPECT_EQ(std::filesystem::hard_link_count(directory / "js/app.js"), 1u);
}

TEST(LiveUpdateCli, ExitCodesForBadUsageAndNothingToReport) {
  DeployFixture server;
  CliHost host(server.appsUrl());
  const std::vector<std::vector<std::string>> badUsage = {
      {},
      {"fetch"},
      {"sync"},
      {"sync", "shop"},
      {"sync", ":production"},
      {"sync", "shop:production:rsync"},
      {"sync", "shop:production", "shop:beta"},
      {"sync", "shop:production", "--existing-cache", "shop=/tmp"},
      {"sync", "shop:production", "--max-versions", "three"},
      {"sync", "shop:production", "--public-key", "key.pem"},
      {"sync", "shop:production", "--server", "ftp://example.com/apps"},
      {"sync", "shop:production", "--server", "http://127.0.0.1:1/v1"},
      {"sync", "shop:production", "--bogus"},
      {"dir"},
      {"dir", "a:b", "c:d"},
      {"reset", "shop:production"},
      {"clean", "--retain-cache"},
      {"watch"},
      {"watch", "shop:production", "--interval", "0"},
      {"watch", "shop:production", "--interval", "soon"},
      {"watch", "shop:production", "--interval", "1", "--jitter", "2"},
      {"watch", "shop:production", "--retry-min", "10", "--retry-max", "5"},
      {"watch", "shop:production", "--seed", "-1"},
      {"sync", "shop:production", "--interval", "5"},
      {"launch"},
      {"launch", "shop:production", "shop:production"},
      {"ready", "shop:production"},
      {"ready", "shop:production", "a", "b"},
      {"bad"},
      {"bad", "shop:production", "reason", "more"},
      {"status"},
  };
  for (const auto& args : badUsage) {
    auto run = host.run(args);
    EXPECT_EQ(run.exitCode, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("usage:"), std::string::npos);
  }
  EXPECT_EQ(host.run({"dir", "shop:production"}).exitCode, 3);
  EXPECT_EQ(host.run({"last-sync", "shop:production"}).exitCode, 3);
  EXPECT_EQ(host.run({"last-sync"}).exitCode, 3);
}

}  // namespace
}  // namespace qelvo::test
