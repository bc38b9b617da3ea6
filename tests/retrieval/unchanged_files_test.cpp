// The unchanged files of a differential download are copied on several threads: the
// copies must hold the previous bytes, and a failure must name the first item in list
// order, with every item before it in place.
#include "retrieval/unchanged_files.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;

std::vector<ManifestItem> writePrevious(const fs::path& previous, int count) {
  std::vector<ManifestItem> items;
  for (int i = 0; i < count; ++i) {
    std::string href = "a/" + std::to_string(i % 17) + "/b/f" + std::to_string(i);
    std::string content(static_cast<std::size_t>(i * 13 % 5000), static_cast<char>('a' + i % 26));
    test::writeFile(previous / href, content);
    items.push_back({href, content.size(), "sha256-unused"});
  }
  items.push_back({"top-level.txt", 3, "sha256-unused"});
  test::writeFile(previous / "top-level.txt", "top");
  return items;
}

TEST(UnchangedFilesTest, CopiesEveryFileWithItsBytesOrReportsTheFirstFailureInListOrder) {
  test::TempDir dir;
  const auto items = writePrevious(dir / "previous", 1200);
  fs::create_directories(dir / "staging");
  EXPECT_FALSE(copyUnchangedFiles(items, dir / "previous", dir / "staging"));
  EXPECT_EQ(test::listFiles(dir / "staging"), test::listFiles(dir / "previous"));
  for (const auto& item : items) {
    ASSERT_EQ(test::readFile(dir / "staging" / item.href),
              test::readFile(dir / "previous" / item.href));
  }

  fs::remove(dir / "previous" / items[700].href);
  fs::remove(dir / "previous" / items[1100].href);
  for (int attempt = 0; attempt < 5; ++attempt) {
    const auto staging = dir / ("staging" + std::to_string(attempt));
    fs::create_directories(staging);
    auto failure = copyUnchangedFiles(items, dir / "previous", staging);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->item, 700u);
    EXPECT_NE(failure->error.description.find(items[700].href), std::string::npos)
        << failure->error.description;
    for (std::size_t i = 0; i < 700; ++i) ASSERT_TRUE(fs::exists(staging / items[i].href)) << i;
  }

  // A file already at a target fails its copy (nothing is overwritten).
  const auto staging = dir / "occupied";
  test::writeFile(staging / items[5].href, "stays");
  auto failure = copyUnchangedFiles(items, dir / "previous", staging);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->item, 5u);
  EXPECT_EQ(test::readFile(staging / items[5].href), "stays");
}

}  // namespace
}  // namespace qelvo
