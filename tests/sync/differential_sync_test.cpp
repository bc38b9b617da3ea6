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

// Each of `starts` begins a line of `output`, in this order (other lines may come between).
void expectLinesInOrder(std::string output, const std::vector<std::string>& starts) {
  output.insert(0, "\n");
  std::size_t at = 0;
  for (const auto& start : starts) {
    at = output.find("\nLiveUpdateManager - " + start, at);
    ASSERT_NE(at, std::string::npos) << "no line \"" << start << "\" in order in" << output;
    ++at;
  }
}

// A first sync downloads every file, the next copies what it can, and an offered snapshot
// still in the cache is applied from there: each logs its steps in the order it takes them.
TEST_F(DifferentialSync, EachPathLogsItsStepsInOrder) {
  auto logging = makeTestManager(server_.client(), "logging", true);
  logging->add(LiveUpdate("app", "production", false, Strategy::differential));
  auto next = bundle("v1");
  next["index.html"] = "<html>v2</html>";
  struct Case {
    std::string id;
    Files files;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"snap-1", bundle("v1"),
       {"Snapshot not present in cache for app. Downloading snapshot snap-1...",
        "Existing manifest not found, performing full download", "Download file href index.html from http://",
        "Writing manifest to snapshot directory", "Moving snapshot directory to file://",
        "Time to full download ", "Total time to sync app app - "}},
      {"snap-2", next,
       {"Snapshot not present in cache for app. Downloading snapshot snap-2...",
        "Manifest for snapshot snap-2 fetched.", "Download file href index.html from http://",
        "Total time to download new differential files ",
        "Copying unchanged files to new snapshot directory", "Copying a/b/c.js",
        "Completed copying unchanged files to new snapshot directory in ",
        "Writing manifest to snapshot directory", "Copied differential update to live update directory",
        "Total time to differential update ", "Total time to sync app app - "}},
      {"snap-1", bundle("v1"),
       {"Snapshot present in cache for app app. Applying snapshot snap-1 from cache...",
        "Total time to sync app app - "}},
  };
  for (const auto& c : cases) {
    publish(c.id, c.files);
    testing::internal::CaptureStdout();
    EXPECT_EQ(logging->sync("app").get().id(), c.id);
    expectLinesInOrder(testing::internal::GetCapturedStdout(), c.lines);
  }
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
