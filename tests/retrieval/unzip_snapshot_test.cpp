#include <gtest/gtest.h>

#include "retrieval/file_manager_util.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/zip_builder.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;
using test::listFiles;
using test::readFile;
using test::writeFile;
using test::ZipBuilder;

class UnzipSnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::internal::CaptureStdout();
    ASSERT_TRUE(util.createAppDirectory("app"));
    ASSERT_EQ(testing::internal::GetCapturedStdout(), "");
    fs::create_directories(work());
  }
  // Where a sync keeps its download and unpacks it.
  fs::path work() const { return host.tmp() / "work"; }
  fs::path archive() const { return work() / "archive.zip"; }
  fs::path destination() const { return work() / "s1"; }

  // Unpacks the archive and returns what was printed.
  std::string unzip(FileManagerUtil::Result<fs::path>& result) {
    testing::internal::CaptureStdout();
    result = util.unzipSnapshot("app", archive(), destination());
    return testing::internal::GetCapturedStdout();
  }

  test::TestHost host;
  FileManagerUtil util{host.library()};
};

// (Byte-exact extraction of large entries is the extractor's own case.)
TEST_F(UnzipSnapshotTest, UnpacksEveryEntryThenRemovesTheArchive) {
  ZipBuilder()
      .file("index.html", "<html>hi</html>")
      .directory("assets/")
      .file("assets/js/app.js", "console.log(1);", ZipBuilder::Method::stored)
      .file("empty.txt", "")
      .directory("fonts/none")
      .write(archive());

  FileManagerUtil::Result<fs::path> result;
  EXPECT_EQ(unzip(result), "");
  ASSERT_TRUE(result) << result.error().platformError()->description;
  EXPECT_EQ(*result, destination());
  EXPECT_EQ(listFiles(destination()),
            (std::vector<std::string>{"assets/js/app.js", "empty.txt", "index.html"}));
  EXPECT_EQ(readFile(destination() / "index.html"), "<html>hi</html>");
  EXPECT_EQ(readFile(destination() / "assets/js/app.js"), "console.log(1);");
  EXPECT_TRUE(fs::is_directory(destination() / "fonts" / "none"));
  EXPECT_FALSE(fs::exists(archive()));
}

TEST_F(UnzipSnapshotTest, WithoutApplicationDirectoryNothingHappens) {
  fs::remove_all(host.cacheRoot());
  FileManagerUtil::Result<fs::path> result;
  EXPECT_EQ(unzip(result), "");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), FileOperationError::invalidZipPath());
  EXPECT_FALSE(fs::exists(host.cacheRoot()));
  EXPECT_FALSE(fs::exists(destination()));
}

TEST_F(UnzipSnapshotTest, FailedUnpackKeepsTheArchiveAndTheNextClearsLeftovers) {
  ZipBuilder().file("ok.txt", "ok").file("../escape.txt", "evil").write(archive());
  FileManagerUtil::Result<fs::path> result;
  auto printed = unzip(result);
  ASSERT_FALSE(result);
  const PlatformError* error = result.error().platformError();
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(printed, error->description + "\n");
  EXPECT_NE(error->description.find("\"../escape.txt\""), std::string::npos) << error->description;
  EXPECT_TRUE(fs::exists(archive()));
  EXPECT_EQ(listFiles(work()), std::vector<std::string>{"archive.zip"});

  // Leftovers of an interrupted unpack are cleared, not merged.
  writeFile(destination() / "ok.txt", "old");
  writeFile(destination() / "deep" / "er" / "stale.css", "old");
  ZipBuilder().file("ok.txt", "ok").write(archive());
  unzip(result);
  ASSERT_TRUE(result);
  EXPECT_EQ(listFiles(work()), std::vector<std::string>{"s1/ok.txt"});
  EXPECT_EQ(readFile(destination() / "ok.txt"), "ok");
}

TEST_F(UnzipSnapshotTest, UnreadableArchivesFailCleanly) {
  FileManagerUtil::Result<fs::path> result;
  unzip(result);  // no archive at all
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().platformError()->description.find(archive().string()),
            std::string::npos);

  writeFile(archive(), "this is not a zip archive, only text pretending to be one");
  unzip(result);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().platformError()->domain, "libzip");
  EXPECT_TRUE(fs::exists(archive()));
  EXPECT_TRUE(fs::is_empty(destination()));
}

}  // namespace
}  // namespace qelvo
