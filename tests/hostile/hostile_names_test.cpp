// Names from the deploy service that try to leave their directory: snapshot ids, hrefs
// and archive entries.
#include <gtest/gtest.h>

#include "support/hostile_fixture.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kInvalidOffer = "CheckResponse does not contain valid snapshot or buildId";

TEST_F(HostileSync, SnapshotIdsThatAreNotOneNameFailTheCheck) {
  startWith(Strategy::zip);
  writeFile(host_.cacheRoot() / "other-app" / "keep", "k");
  rememberDevice();
  const auto archive = server_.putZip("app", "any", goodBundle());
  // One name of each kind; the path checks' own tests hold the full list.
  for (const auto& id : {".."s, "."s, ""s, "../other-app"s, "/tmp/abs"s, "a/b"s,
                         "../snap-1-evil"s, "snap\0x"s, "..\0"s}) {
    server_.offer("app", id, 2, archive);
    auto error = refusal();
    EXPECT_EQ(error.failStep, FailStep::check) << id;
    EXPECT_EQ(metadataText(error), kInvalidOffer) << id;
    expectUnchanged();
  }
  EXPECT_EQ(server_.count("GET", ".*"), 1u) << "only snap-1 was ever downloaded";
}

TEST_F(HostileSync, EncodedAndSiblingNamesAreLiteralNamesInsideTheCache) {
  startWith(Strategy::zip);
  // Nothing decodes these: they name directories of their own, beside snap-1.
  int n = 0;
  for (const auto& id : {"%2e%2e"s, "..%2f..%2fescaped"s, "snap-1-evil"s, "snap-1.."s, "..."s}) {
    const auto files = Files{{"index.html", "<html>" + id + "</html>"}};
    const auto path = "/bundles/app/literal-" + std::to_string(++n) + ".zip";
    server_.serve(path, zipOf(ZipBuilder().file("index.html", files.at("index.html"))));
    server_.offer("app", id, 2, server_.http().origin() + path);
    manager_->sync("app").get();
    EXPECT_EQ(manager_->latestAppDirectory("app"), host_.cacheRoot() / "app" / id) << id;
    EXPECT_EQ(filesIn(host_.cacheRoot() / "app" / id), files) << id;
  }
  for (const auto& [path, content] : containerContents("Library/qelvo_apps/app")) {
    EXPECT_TRUE(path == "Library/" || path == "Library/qelvo_apps/" || path == "tmp/" ||
                path == "tmp/qelvo-work/")
        << path;
  }
}

TEST_F(HostileSync, HrefsThatLeaveTheBundleFailBeforeAnyFileIsFetched) {
  startWith(Strategy::differential);
  const auto requestsBefore = server_.http().requestCount();
  // One href of each kind: into the served snapshot, absolute, with a NUL, the bundle itself.
  for (const auto& href : {"../snap-1/index.html"s, "/../etc/passwd"s, "nul\0.js"s, "a/.."s}) {
    Files files = {{"index.html", "<html>ok</html>"}, {href, "evil"}};
    offerManifestText("snap-2", manifestOf(files), files);
    auto error = refusal();
    EXPECT_EQ(error.failStep, FailStep::download) << href;
    EXPECT_EQ(metadataText(error), "Manifest contains an unsafe href: " + href);
    expectUnchanged();
  }
  // Each attempt asked for the check and the manifest, never for a file.
  EXPECT_EQ(server_.http().requestCount() - requestsBefore, 4u * 2);
}

}  // namespace
}  // namespace qelvo::test
