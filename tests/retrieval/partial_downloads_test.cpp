// The parts of interrupted downloads outlive their sync, but not for ever: a sweep keeps
// only those a later sync may still resume, the newest first, within an age and a total.
#include "retrieval/partial_downloads.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(PartialDownloads, ASweepKeepsTheNewestResumablePartsWithinTheirAgeAndTotal) {
  test::TempDir tmp;
  const auto directory = partialDownloadsDirectory(tmp.path());
  struct Entry {
    std::string name;
    std::size_t bytes;
    std::chrono::hours age;
    bool validator;
    bool kept;
  };
  const std::vector<Entry> entries = {
      {"qelvo-download-a", 400, 1h, true, true},
      {"qelvo-download-b", 400, 2h, true, true},
      {"qelvo-download-c", 400, 3h, true, false},   // past the total, with the newer ones
      {"qelvo-download-d", 10, 73h, true, false},   // untouched for too long
      {"qelvo-download-e", 10, 1h, false, false},   // no validator: killed between the two
      {"downloaded-by-someone", 10, 1h, false, false},  // not a part
  };
  const auto now = fs::file_time_type::clock::now();
  for (const auto& entry : entries) {
    test::writeFile(directory / entry.name, std::string(entry.bytes, 'p'));
    if (entry.validator) test::writeFile(directory / (entry.name + ".validator"), "url\n\"e\"\n");
    fs::last_write_time(directory / entry.name, now - entry.age);
  }
  test::writeFile(directory / "qelvo-download-f.validator", "url\n\"e\"\n");  // its part went
  fs::create_directories(directory / "qelvo-download-g");                   // not a file

  sweepPartialDownloads(tmp.path(), 72h, 1000);

  for (const auto& entry : entries) {
    EXPECT_EQ(fs::exists(directory / entry.name), entry.kept) << entry.name;
    EXPECT_EQ(fs::exists(directory / (entry.name + ".validator")), entry.kept) << entry.name;
  }
  EXPECT_FALSE(fs::exists(directory / "qelvo-download-f.validator"));
  EXPECT_FALSE(fs::exists(directory / "qelvo-download-g"));

  // With nothing left to resume, the directory goes as well.
  sweepPartialDownloads(tmp.path(), 72h, 0);
  EXPECT_FALSE(fs::exists(directory));
}

}  // namespace
}  // namespace qelvo
