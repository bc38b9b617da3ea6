#include "retrieval/file_manager_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_host.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;
using test::listFiles;
using test::readFile;
using test::writeFile;

// Runs `operation` and returns the lines it printed.
template <typename Operation>
std::vector<std::string> printedBy(Operation&& operation) {
  testing::internal::CaptureStdout();
  operation();
  std::istringstream in(testing::internal::GetCapturedStdout());
  std::vector<std::string> result;
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

class FileManagerUtilTest : public ::testing::Test {
 protected:
  test::TestHost host;
  FileManagerUtil util;  // resolves the Library directory of `host`
};

TEST_F(FileManagerUtilTest, RemovalsTakeEverythingBelowAndTolerateWhatIsGone) {
  writeFile(host.cacheRoot() / "a" / "s1" / "deep" / "file.js", "1");
  writeFile(host.cacheRoot() / "a" / "s2" / "file.js", "2");
  writeFile(host.cacheRoot() / "b" / "s1" / "file.js", "3");

  ASSERT_TRUE(util.removeSnapshotDirectory("a", "s1"));
  EXPECT_EQ(listFiles(host.cacheRoot()),
            (std::vector<std::string>{"a/s2/file.js", "b/s1/file.js"}));
  EXPECT_TRUE(util.removeSnapshotDirectory("a", "s1"));

  // A cache root removed from under the util (as a purged cache is) is created again.
  fs::remove_all(host.cacheRoot());
  ASSERT_EQ(util.createAppDirectory("a"), host.cacheRoot() / "a");
  EXPECT_TRUE(fs::is_directory(host.cacheRoot() / "a"));
}

TEST_F(FileManagerUtilTest, DirectoryHasContentsOnlyForAListableNonEmptyDirectory) {
  EXPECT_FALSE(util.directoryHasContents(host.container() / "missing"));
  fs::create_directories(host.container() / "empty");
  EXPECT_FALSE(util.directoryHasContents(host.container() / "empty"));
  writeFile(host.container() / "full" / ".hidden", "");
  EXPECT_TRUE(util.directoryHasContents(host.container() / "full"));
  EXPECT_FALSE(util.directoryHasContents(host.container() / "full" / ".hidden"));
}

TEST_F(FileManagerUtilTest, MoveItemCopiesAcrossFilesystems) {
  struct stat here {
  }, there{};
  if (::stat(host.container().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 ||
      here.st_dev == there.st_dev) {
    GTEST_SKIP() << "no second filesystem at /dev/shm";
  }
  std::string pattern = "/dev/shm/qelvo-move-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  fs::path other = pattern;
  writeFile(host.container() / "stage" / "dir" / "b.bin", std::string("\0\1\2", 3));
  auto moved = util.moveItem(host.container() / "stage", other / "moved");
  EXPECT_TRUE(moved);
  EXPECT_EQ(readFile(other / "moved" / "dir" / "b.bin"), std::string("\0\1\2", 3));
  EXPECT_FALSE(fs::exists(host.container() / "stage"));
  fs::remove_all(other);
}

TEST_F(FileManagerUtilTest, WriteStringReplacesTheWholeFile) {
  auto file = host.container() / "live-update-manifest.json";
  ASSERT_TRUE(util.writeString("a much longer first text", file));
  ASSERT_TRUE(util.writeString("kurz \u00e9\u6f22", file));
  EXPECT_EQ(readFile(file), "kurz \u00e9\u6f22");
  EXPECT_EQ(listFiles(host.container()), std::vector<std::string>{"live-update-manifest.json"});

  FileManagerUtil::Result<void> written;
  auto printed = printedBy(
      [&] { written = util.writeString("x", host.container() / "missing" / "f.json"); });
  EXPECT_EQ(printed.size(), 1u);
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().platformError()->code, ENOENT);
}

// A regular file where the cache root should be makes every creation below it fail.
TEST_F(FileManagerUtilTest, FailedCreationPrintsBothErrorsAndCarriesTheFirstBridged) {
  writeFile(host.cacheRoot(), "not a directory");
  for (bool snapshot : {false, true}) {
    FileManagerUtil::Result<fs::path> created;
    auto printed = printedBy([&] {
      created =
          snapshot ? util.createSnapshotDirectory("app", "s1") : util.createAppDirectory("app");
    });
    ASSERT_FALSE(created);
    const PlatformError* error = created.error().platformError();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(*error, FileOperationError::ioError(PlatformError()).bridged());
    EXPECT_EQ(
        error->description,
        "The operation couldn\u2019t be completed. (QelvoLiveUpdates.FileOperationError error 0.)");
    ASSERT_EQ(printed.size(), 2u);
    EXPECT_NE(printed[0].find("Could not create directory \"" + host.cacheRoot().string()),
              std::string::npos)
        << printed[0];
    EXPECT_EQ(printed[1], error->description);
  }
}

// Snapshot ids come from the deploy service: none may name a path outside the cache.
TEST_F(FileManagerUtilTest, IdsThatAreNotOnePathComponentAreRefused) {
  ASSERT_TRUE(util.createSnapshotDirectory("app", "s1"));
  writeFile(host.tmp() / "keep.txt", "k");
  for (std::string id : {"", ".", "..", "../escape", "a/b"}) {
    SCOPED_TRACE(id);
    FileManagerUtil::Result<void> removed;
    auto printed = printedBy([&] {
      EXPECT_FALSE(util.createAppDirectory(id));
      EXPECT_FALSE(util.createSnapshotDirectory("app", id));
      removed = util.removeSnapshotDirectory("app", id);
    });
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error().platformError()->code, EINVAL);
    EXPECT_EQ(printed.size(), 5u);  // two for each creation, one for the removal
    EXPECT_EQ(util.appDirectory(id), std::nullopt);
    EXPECT_EQ(util.snapshotDirectory("app", id), std::nullopt);
  }
  EXPECT_TRUE(fs::is_directory(host.cacheRoot() / "app" / "s1"));
  EXPECT_EQ(listFiles(host.container()), std::vector<std::string>{"tmp/keep.txt"});
}

}  // namespace
}  // namespace qelvo
