// Names from the deploy service that try to leave their directory: snapshot ids, hrefs
// and archive entries.
#include <gtest/gtest.h>

#include "support/hostile_fixture.h"
#include "support/zip_builder.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kInvalidOffer = "CheckResponse does not contain valid snapshot or buildId";

TEST_F(HostileSync, SnapshotIdsThatAreNotOneNameFailTheCheck) {
  startWith(Strategy::zip);
  const auto archive = server_.putZip("app", "any", goodBundle());
  // One name of each kind the unit tests do not already refuse through a whole sync.
  for (const auto& id : {"/tmp/abs"s, "../snap-1-evil"s, "snap\0x"s, "..\0"s}) {
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

TEST_F(HostileSync, ArchiveEntriesThatLeaveOrRedirectTheSnapshotAreRefused) {
  startWith(Strategy::zip);
  // One entry of each kind; the extractor's own tests hold the full list.
  const std::vector<ZipBuilder> hostile = {
      ZipBuilder().file("index.html", "x").file("../snap-1/index.html", "evil"),
      ZipBuilder().file("/abs.js", "evil"),
      // A link, then an entry written through it.
      ZipBuilder().symlink("link", host_.container().string()).file("link/escaped.js", "evil"),
      // The same without Unix attributes: "link" is a file, and cannot be a directory.
      ZipBuilder().file("link", "../..").withoutAttributes().file("link/escaped.js", "evil"),
      ZipBuilder().file("a\\..\\..\\escaped.js", "evil"),
  };
  int n = 0;
  for (const auto& archive : hostile) {
    const auto id = "snap-" + std::to_string(++n + 1);
    offerArchive(id, zipOf(archive));
    auto error = refusal();
    EXPECT_EQ(error.failStep, FailStep::unpack) << id;
    EXPECT_NE(error.errorDescription().find("File Manager Error"), std::string::npos)
        << error.errorDescription();
    expectUnchanged();
  }
}

}  // namespace
}  // namespace qelvo::test
