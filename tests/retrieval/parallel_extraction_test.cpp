// Extraction spreads the files of a large archive over several threads: the bytes on
// disk and the failure reported must be those of a one-by-one extraction.
#include <gtest/gtest.h>
#include <zip.h>

#include <map>

#include "retrieval/zip_extractor.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;
using test::ZipBuilder;

// Many files in many directories (several per batch of every worker), of varied sizes,
// larger ones spanning several read buffers.
std::map<std::string, std::string> manyFiles() {
  std::map<std::string, std::string> files;
  for (int i = 0; i < 1500; ++i) {
    std::string name = "d" + std::to_string(i % 37) + "/sub" + std::to_string(i % 5) + "/f" +
                       std::to_string(i) + ".txt";
    std::string content = "file " + std::to_string(i) + ":";
    const std::size_t size = i % 250 == 0 ? 600'000 : static_cast<std::size_t>(i * 7 % 3000);
    while (content.size() < size) content += static_cast<char>('a' + (content.size() * i) % 26);
    files[name] = content;
  }
  files["empty"] = "";
  return files;
}

TEST(ParallelExtractionTest, WritesTheSameBytesAsTheArchiveHolds) {
  test::TempDir dir;
  const auto files = manyFiles();
  ZipBuilder builder;
  builder.directory("d0/").directory("explicit/empty/");
  int i = 0;
  for (const auto& [name, content] : files) {
    builder.file(name, content, i++ % 3 == 0 ? ZipBuilder::Method::stored : ZipBuilder::Method::deflate);
  }
  builder.write(dir / "bundle.zip");
  fs::create_directories(dir / "out");

  auto result = extractZip(dir / "bundle.zip", dir / "out");
  ASSERT_TRUE(result) << result.error().description;
  EXPECT_EQ(test::listFiles(dir / "out").size(), files.size());
  for (const auto& [name, content] : files) {
    ASSERT_EQ(test::readFile(dir / "out" / name), content) << name;
  }
  EXPECT_TRUE(fs::is_directory(dir / "out" / "explicit" / "empty"));
}

// Two corrupt entries far apart: the one a loop in archive order meets first is
// reported, and every entry before it is extracted whole.
TEST(ParallelExtractionTest, ReportsTheFirstFailingEntryInArchiveOrder) {
  test::TempDir dir;
  ZipBuilder builder;
  std::vector<std::string> names;
  for (int i = 0; i < 800; ++i) {
    names.push_back("dir" + std::to_string(i / 50) + "/file" + std::to_string(1000 + i));
    std::string content = "content of " + names.back();
    if (i == 300) content = "CORRUPT-FIRST";
    if (i == 650) content = "CORRUPT-LATER";
    builder.file(names.back(), content, ZipBuilder::Method::stored);
  }
  builder.write(dir / "bundle.zip");
  // The stored bytes change under their CRC: reading those entries fails.
  ASSERT_EQ(test::patchBytes(dir / "bundle.zip", "CORRUPT-FIRST", "BROKEN!-FIRST"), 1);
  ASSERT_EQ(test::patchBytes(dir / "bundle.zip", "CORRUPT-LATER", "BROKEN!-LATER"), 1);
  fs::create_directories(dir / "out");

  for (int attempt = 0; attempt < 5; ++attempt) {
    const auto out = dir / ("out" + std::to_string(attempt));
    fs::create_directories(out);
    auto result = extractZip(dir / "bundle.zip", out);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().domain, "libzip");
    EXPECT_EQ(result.error().code, ZIP_ER_CRC);
    EXPECT_NE(result.error().description.find("\"" + names[300] + "\""), std::string::npos)
        << result.error().description;
    for (int i = 0; i < 300; ++i) {
      ASSERT_EQ(test::readFile(out / names[i]), "content of " + names[i]) << names[i];
    }
  }
}

}  // namespace
}  // namespace qelvo
