#include <gtest/gtest.h>

#include "support/sync_fixture.h"
#include "support/temp_dir.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class DifferentialSync : public SyncTest {
 protected:
  void SetUp() override {
    manager_->add(LiveUpdate("app", "production", false, Strategy::differential));
  }

  void publish(const std::string& id, const Files& files, std::int64_t build = 1) {
    server_.offer("app", id, build, server_.putManifest("app", id, files));
  }
  SyncResult syncTo(const std::string& id, const Files& files, std::int64_t build = 1) {
    publish(id, files, build);
    return manager_->sync("app").get();
  }
  // The copy of `files` and their manifest that the host ships in its binary.
  void ship(const Files& files) {
    for (const auto& [href, content] : withManifestFile(files)) writeFile(shipped_ / href, content);
  }
  TempDir shipped_;
};

std::vector<std::string> hrefsOf(const Files& files) {
  std::vector<std::string> hrefs;
  for (const auto& [href, content] : files) hrefs.push_back(href);
  return hrefs;
}

TEST_F(DifferentialSync, OnlyNewAndChangedFilesAreTransferred) {
  const auto files = bundle("v1");
  syncTo("snap-1", files);
  auto result = syncTo("snap-2", files, 2);
  EXPECT_EQ(result.source, SyncResult::Source(SyncResult::Download{}));
  EXPECT_EQ(server_.count("GET", "/bundles/app/snap-2/.*"), 1u) << "the manifest alone";
  expectCurrent("snap-2", withManifestFile(files));
  EXPECT_EQ(filesIn(snapshotDir("snap-1")), withManifestFile(files))
      << "the previous one is only read";

  auto next = files;
  next["index.html"] = "<html>v3</html>";  // same size, other content
  next["a/b/c.js"] = "nested v3, longer";
  next["x/y/z/new.js"] = "new";
  next.erase("a/b/d.css");
  ASSERT_EQ(next["index.html"].size(), files.at("index.html").size());
  syncTo("snap-3", next, 3);
  EXPECT_EQ(transferred("snap-3"),
            (std::vector<std::string>{"a/b/c.js", "index.html", "x/y/z/new.js"}));
  expectCurrent("snap-3", withManifestFile(next));
}

TEST_F(DifferentialSync, AManifestUrlWithoutAHostDownloadsNothing) {
  const auto files = bundle("v1");
  ship(files);
  auto inner = server_.client();
  auto hostless = std::make_shared<LiveUpdatesClient>(*inner);
  hostless->fetchManifest = [inner](const Url& url, std::stop_token stop,
                                    const ExchangeLimits& limits) {
    auto fetched = inner->fetchManifest(url, std::move(stop), limits);
    if (fetched) fetched->url = *Url::parse("file:///m.json");
    return fetched;
  };
  auto manager = makeTestManager(hostless, "hostless");
  manager->add(LiveUpdate("app", "production", false, Strategy::differential), shipped_.path());
  auto next = files;
  next["index.html"] = "<html>changed</html>";
  next["new.js"] = "new";
  publish("snap-2", next);

  auto result = manager->sync("app").get();
  EXPECT_EQ(result.source, SyncResult::Source(SyncResult::Download{}));
  EXPECT_TRUE(transferred("snap-2").empty());
  auto copied = files;
  copied.erase("index.html");
  copied[kManifestFile] = manifestOf(next);
  EXPECT_EQ(filesIn(snapshotDir("snap-2")), copied) << "the copied files and the new manifest";
  EXPECT_TRUE(leftInTmp().empty());
}

// Without a previous snapshot, or with one whose manifest is missing or unusable, every
// file is downloaded, once.
TEST_F(DifferentialSync, WithoutAUsablePreviousManifestEveryFileIsDownloaded) {
  auto logging = makeTestManager(server_.client(), "logging", true);
  logging->add(LiveUpdate("app", "production", false, Strategy::differential));
  const auto files = bundle("v1");
  // The first sync has no previous snapshot; each later one finds the previous manifest
  // removed, or replaced by one of these texts.
  const std::vector<std::optional<std::string>> previousManifests = {
      std::nullopt, std::nullopt, "{not json", R"({"payload":"not base64!"})", R"({"items":[]})"};
  int n = 0;
  for (const auto& previous : previousManifests) {
    if (n > 0) {
      const auto current = *logging->latestAppDirectory("app");
      if (previous) {
        writeFile(current / kManifestFile, *previous);
      } else {
        fs::remove(current / kManifestFile);
      }
    }
    const std::string id = "snap-" + std::to_string(++n);
    server_.offer("app", id, n + 3, server_.putManifest("app", id, files));
    testing::internal::CaptureStdout();
    auto result = logging->sync("app").get();
    auto output = testing::internal::GetCapturedStdout();
    EXPECT_NE(
        output.find("LiveUpdateManager - Existing manifest not found, performing full download\n"),
        std::string::npos)
        << output;
    EXPECT_EQ(result.source, SyncResult::Source(SyncResult::Download{}));
    EXPECT_EQ(result.id(), id);
    EXPECT_EQ(result.buildId(), std::to_string(n + 3));
    EXPECT_EQ(transferred(id), hrefsOf(files)) << id;
    EXPECT_EQ(logging->record("app")->channels.begin()->currentSnapshot->id, id);
    EXPECT_LT(abs(*logging->lastSync("app") - *result.lastUsed()), 1ms) << "stored as seconds";
    expectCurrent(*logging, id, withManifestFile(files));
  }
}

TEST_F(DifferentialSync, TheHostsShippedCopyServesAsThePreviousSnapshot) {
  const auto files = bundle("v1");
  ship(files);
  manager_->add(LiveUpdate("app", "production", false, Strategy::differential), shipped_.path());
  auto next = files;
  next["a/b/c.js"] = "nested v2";

  syncTo("snap-1", next);
  EXPECT_EQ(transferred("snap-1"), std::vector<std::string>{"a/b/c.js"});
  expectCurrent("snap-1", withManifestFile(next));
  EXPECT_EQ(filesIn(shipped_.path()), withManifestFile(files)) << "the shipped copy is only read";

  auto later = next;
  later["index.html"] = "<html>v3</html>";
  syncTo("snap-2", later);
  EXPECT_EQ(transferred("snap-2"), std::vector<std::string>{"index.html"})
      << "the current snapshot, not the shipped copy, is compared";
  expectCurrent("snap-2", withManifestFile(later));
}

TEST_F(DifferentialSync, OneFailingFileStopsTheOthersAndRemovesStaging) {
  syncTo("snap-1", bundle("v1"));
  Files files;
  for (int i = 0; i < 300; ++i)
    files["f/" + std::to_string(i) + ".js"] = "file " + std::to_string(i);
  const std::string base = "/bundles/app/snap-2/";
  publish("snap-2", files);
  // The files are requested in the order of the decoded manifest: the first one fails
  // at once, every other one answers slowly.
  const auto first = Manifest::decode(manifestOf(files))->payload.begin()->href;
  for (const auto& [href, content] : files) server_.serve(base + href, content, 200, 100ms);
  server_.serve(base + first, "gone", 404);

  auto error = syncError("app");
  EXPECT_EQ(error.failStep, FailStep::download);
  auto* network = networkReason(error);
  ASSERT_TRUE(network);
  EXPECT_EQ(network->value(), NetworkClientError::Value(NetworkClientError::InvalidResponse{
                                  HttpResponse{404, server_.http().url(base + first)}}));
  EXPECT_LT(transferred("snap-2").size(), 40u) << "the queued files were never requested";
  EXPECT_TRUE(leftInTmp().empty());
  EXPECT_FALSE(fs::exists(snapshotDir("snap-2")));
  expectCurrent("snap-1", withManifestFile(bundle("v1")));
}

TEST_F(DifferentialSync, LeftOversInPlaceAreReplacedAndTheHostsFilesInTmpStay) {
  const auto files = bundle("v1");
  // The host's own files in tmp, named like the snapshots offered: never ours to touch.
  auto hostFiles = [&](const std::string& id) {
    writeFile(host_.tmp() / id / "index.html", "host");
    writeFile(host_.tmp() / (id + ".zip"), "host");
  };
  for (const char* id : {"snap-1", "snap-2", "snap-3", "snap-4", "snap-5"}) hostFiles(id);
  syncTo("snap-1", files);
  expectCurrent("snap-1", withManifestFile(files));
  syncTo("snap-2", files);
  expectCurrent("snap-2", withManifestFile(files));

  // A snapshot directory moved in by an attempt that never recorded it.
  writeFile(snapshotDir("snap-3") / "stale.js", "stale");
  syncTo("snap-3", files);
  expectCurrent("snap-3", withManifestFile(files));

  // A recorded snapshot whose directory was emptied.
  putSnapshot(*manager_, host_.cacheRoot(), "app", "snap-4", "1.0.0", Date{});
  fs::remove(snapshotDir("snap-4") / "index.html");
  syncTo("snap-4", files);
  expectCurrent("snap-4", withManifestFile(files));

  // The same without a previous manifest (full download).
  fs::remove(snapshotDir("snap-4") / kManifestFile);
  writeFile(snapshotDir("snap-5") / "stale.js", "stale");
  syncTo("snap-5", files);
  expectCurrent("snap-5", withManifestFile(files));
  EXPECT_EQ(transferred("snap-5"), hrefsOf(files));
  for (const char* id : {"snap-1", "snap-2", "snap-3", "snap-4", "snap-5"}) {
    EXPECT_EQ(readFile(host_.tmp() / id / "index.html"), "host");
    EXPECT_EQ(readFile(host_.tmp() / (std::string(id) + ".zip")), "host");
  }
}

// A leading "/" and "." or ".." parts that stay inside the bundle name the file their
// resolved path names: it is requested and written there.
TEST_F(DifferentialSync, HrefsAreResolvedInsideTheBundle) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/css//./d.css", "css/d.css"}, {"x/y/../../e.js", "e.js"}};
  std::vector<ManifestItem> items;
  Files served;
  for (const auto& [href, resolved] : cases) {
    items.push_back(manifestItem(href, "content of " + resolved));
    served[resolved] = "content of " + resolved;
    server_.serve("/bundles/app/snap-1/" + resolved, served[resolved]);
  }
  offerManifestText("snap-1", Manifest::fromItems(items).encode());
  manager_->sync("app").get();
  auto files = filesIn(snapshotDir("snap-1"));
  files.erase(kManifestFile);
  EXPECT_EQ(files, served);
  for (const auto& request : server_.http().requests()) {
    EXPECT_EQ(request.path.find("%2E"), std::string::npos) << request.path;
    EXPECT_EQ(request.path.find("/./"), std::string::npos) << request.path;
  }
}

TEST_F(DifferentialSync, AnEmptyBundleStillGetsItsManifest) {
  syncTo("snap-1", {});
  expectCurrent("snap-1", withManifestFile({}));
  syncTo("snap-2", {});
  expectCurrent("snap-2", withManifestFile({}));
}

TEST_F(DifferentialSync, FailuresAfterTheDownloadsRemoveStaging) {
  syncTo("snap-1", bundle("v1"));
  auto next = bundle("v1");
  next["index.html"] = "<html>v2</html>";

  // An unchanged file that the previous snapshot no longer holds cannot be copied.
  fs::remove(snapshotDir("snap-1") / "a/b/d.css");
  publish("snap-2", next);
  testing::internal::CaptureStdout();
  auto error = syncError("app");
  EXPECT_NE(testing::internal::GetCapturedStdout().find("a/b/d.css"), std::string::npos)
      << "the platform's description is printed";
  EXPECT_EQ(error.failStep, FailStep::unpack);
  EXPECT_TRUE(std::holds_alternative<SyncError::Reason::FileManagerError>(error.reason.value));
  EXPECT_EQ(transferred("snap-2"), std::vector<std::string>{"index.html"});
  EXPECT_TRUE(leftInTmp().empty());
  EXPECT_FALSE(fs::exists(snapshotDir("snap-2")));
  EXPECT_EQ(manager_->latestAppDirectory("app"), snapshotDir("snap-1"));

  // Without its application directory the assembled snapshot has nowhere to go.
  fs::remove_all(host_.cacheRoot() / "app");
  publish("snap-3", next);
  error = syncError("app");
  EXPECT_EQ(error.failStep, FailStep::unpack);
  EXPECT_EQ(metadataText(error), "app not registered with LiveUpdateManager");
  EXPECT_EQ(transferred("snap-3"), hrefsOf(next));
  EXPECT_TRUE(leftInTmp().empty());
}

}  // namespace
}  // namespace qelvo::test
