// Archives that lie: about their names, their sizes, their data, or how much they hold.
// Every refusal leaves nothing new in the cache.
#include <gtest/gtest.h>

#include "support/hostile_fixture.h"
#include "support/raw_zip.h"
#include "support/zip_builder.h"

namespace qelvo::test {
namespace {

using namespace std::chrono_literals;

// A failure of the unpack step whose file error mentions `detail`.
void expectUnpackFailure(const SyncError& error, const std::string& detail) {
  EXPECT_EQ(error.failStep, FailStep::unpack);
  EXPECT_TRUE(std::holds_alternative<SyncError::Reason::FileManagerError>(error.reason.value));
  EXPECT_NE(cause(error).find(detail), std::string::npos) << cause(error);
}

// The archive bytes with the byte at `at` replaced.
std::string patched(std::string bytes, std::size_t at, char value) {
  bytes.at(at) = value;
  return bytes;
}

class HostileArchive : public HostileSync {
 protected:
  void SetUp() override { startWith(Strategy::zip); }
  // Offers the archive as the next snapshot; the refusal.
  SyncError refuse(const std::string& bytes) {
    offerArchive("snap-" + std::to_string(++offered_ + 1), bytes);
    return refusal();
  }
  int offered_ = 0;
};

// One table of archives that lie about their names, their data or their own structure, or
// whose entries would leave the snapshot; the extractor's tests hold the full lists of each.
TEST_F(HostileArchive, ForgedBrokenTruncatedAndEscapingArchivesAreRefused) {
  const auto good = RawZip().entry("index.html", "<html>x</html>").entry("a.js", "js").bytes();
  auto method = RawZip().entry("index.html", "x").bytes();
  method[8] = 77;                           // in the local header
  method[method.find("PK\1\2") + 10] = 77;  // and in the central one
  // 200 entries re-reading one 64 KiB kernel: 13 MB declared from 80 KB.
  const auto bomb = RawZip::overlapping(200, std::string(64 * 1024, 'k'));
  ASSERT_LT(bomb.size(), 100'000u);
  std::vector<std::pair<std::string, std::string>> cases = {
      // The central name is what the checks see; the local one would be what gets written.
      {RawZip().entry("index.html", "x").localName("../escaped.js").bytes(), "Could not open archive"},
      {RawZip().entry("index.html", "x").localName("/abs.js").bytes(), "Could not open archive"},
      {RawZip().entry("index.html", "x").localName("index.htm_").bytes(), "Could not open archive"},
      {bomb, "overlap"},
      {RawZip().entry("index.html", "x").crc(1234).bytes(), "CRC"},
      // A central directory that points past the end.
      {patched(good, good.rfind("PK\5\6") + 16, '\x7f'), "Could not"},
      {RawZip().entry("a.js", "1").entry("a.js", "2").bytes(), "has the same path"},
      {method, "compression method 77"},
      // Entries that leave the snapshot or write through a link.
      {zipOf(ZipBuilder().file("index.html", "x").file("../snap-1/index.html", "evil")),
       "its path leaves the destination"},
      {zipOf(ZipBuilder().file("/abs.js", "evil")), "its path is absolute"},
      {zipOf(ZipBuilder().symlink("link", host_.container().string()).file("link/escaped.js", "evil")),
       "it is a symbolic link"},
      // The same without Unix attributes: "link" is a file, and cannot be a directory.
      {zipOf(ZipBuilder().file("link", "../..").withoutAttributes().file("link/escaped.js", "evil")),
       "needs it as a directory"},
      {zipOf(ZipBuilder().file("a\\..\\..\\escaped.js", "evil")), "its name contains a backslash"},
  };
  for (auto size : {good.size() / 2, good.size() - 10, std::size_t{3}, std::size_t{0}}) {
    cases.push_back({good.substr(0, size), "Could not"});
  }
  if (zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1)) {
    cases.push_back({zipOf(ZipBuilder().file("index.html", "s").encrypted("pw")), "encrypted"});
  }
  for (const auto& [bytes, detail] : cases) {
    SCOPED_TRACE(detail);
    expectUnpackFailure(refuse(bytes), detail);
    expectUnchanged();
  }
}

TEST_F(HostileArchive, ArchivesBeyondTheUnpackLimitsFailFast) {
  auto limits = manager_->limits();
  limits.maxArchiveEntries = 10;
  limits.maxUnpackedBytes = 1 << 20;
  limits.maxCompressionRatio = 100;
  manager_->setLimits(limits);

  ZipBuilder many;
  for (int i = 0; i < 11; ++i) many.file("f" + std::to_string(i) + ".js", "x");
  expectUnpackFailure(refuse(zipOf(many)), "more than 10");
  expectUnchanged();
  // Two entries of 600 KiB: the second passes the total.
  expectUnpackFailure(refuse(zipOf(ZipBuilder()
                                       .file("a.bin", std::string(600 << 10, 'a'))
                                       .file("b.bin", std::string(600 << 10, 'b')))),
                      "more than 1048576 bytes");
  expectUnchanged();
  // A deflate bomb under the default limits: 1 GiB of zeros in one entry of about 1 MiB,
  // refused before a byte of it is written.
  manager_->setLimits(LiveUpdateManager::Limits{});
  expectUnpackFailure(refuse(zipOf(ZipBuilder().zeros("zeros.bin", std::uint64_t{1} << 30))),
                      "compressed more than 100 to 1");
  expectUnchanged();
}

TEST_F(HostileArchive, ArchivesOverTheDownloadLimitAreCutOff) {
  auto limits = manager_->limits();
  limits.maxArchiveBytes = 64 * 1024;
  manager_->setLimits(limits);
  // Announced, and sent without end.
  offerArchive("snap-2", std::string(200 * 1024, 'z'));
  expectRefused(FailStep::download, "larger than 65536 bytes");
  server_.serveEndless("/bundles/app/snap-3.zip");
  server_.offer("app", "snap-3", 3, server_.http().origin() + "/bundles/app/snap-3.zip");
  expectRefused(FailStep::download, "larger than 65536 bytes");
}

}  // namespace
}  // namespace qelvo::test
