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

TEST_F(HostileArchive, LocalNamesThatDifferFromTheCentralDirectoryAreRefused) {
  // The central name is what the checks see; the local one would be what gets written.
  for (const auto& local : {"../escaped.js", "/abs.js", "index.htm_"}) {
    auto error = refuse(RawZip().entry("index.html", "x").localName(local).bytes());
    expectUnpackFailure(error, "Could not open archive");
    expectUnchanged();
  }
}

TEST_F(HostileArchive, EntriesWhoseDataOverlapAreRefusedBeforeAnythingIsWritten) {
  // 200 entries re-reading one 64 KiB kernel: 13 MB declared from 80 KB.
  const auto bomb = RawZip::overlapping(200, std::string(64 * 1024, 'k'));
  ASSERT_LT(bomb.size(), 100'000u);
  auto error = refuse(bomb);
  expectUnpackFailure(error, "overlap");
  expectUnchanged();
}

TEST_F(HostileArchive, BrokenTruncatedAndForgedArchivesAreRefused) {
  const auto good = RawZip().entry("index.html", "<html>x</html>").entry("a.js", "js").bytes();
  expectUnpackFailure(refuse(RawZip().entry("index.html", "x").crc(1234).bytes()), "CRC");
  expectUnchanged();
  for (auto size : {good.size() / 2, good.size() - 10, std::size_t{3}, std::size_t{0}}) {
    expectUnpackFailure(refuse(good.substr(0, size)), "Could not");
    expectUnchanged();
  }
  // A central directory that points past the end.
  const auto directory = good.rfind("PK\5\6");
  expectUnpackFailure(refuse(patched(good, directory + 16, '\x7f')), "Could not");
  expectUnchanged();
  // Two entries of one name, an encrypted one, an unknown compression method.
  expectUnpackFailure(refuse(RawZip().entry("a.js", "1").entry("a.js", "2").bytes()),
                      "has the same path");
  expectUnchanged();
  if (zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1)) {
    expectUnpackFailure(refuse(zipOf(ZipBuilder().file("index.html", "s").encrypted("pw"))),
                        "encrypted");
    expectUnchanged();
  }
  auto method = RawZip().entry("index.html", "x").bytes();
  method[8] = 77;                           // in the local header
  method[method.find("PK\1\2") + 10] = 77;  // and in the central one
  expectUnpackFailure(refuse(method), "compression method 77");
  expectUnchanged();
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
  server_.serveEndless("/bundles/app/snap-3.zip");
  for (const auto& id : {"snap-2", "snap-3"}) {
    if (std::string(id) == "snap-3") {
      server_.offer("app", id, 3, server_.http().origin() + "/bundles/app/snap-3.zip");
    }
    auto error = refusal();
    EXPECT_EQ(error.failStep, FailStep::download) << id;
    EXPECT_NE(networkReason(error), nullptr) << error.errorDescription();
    EXPECT_NE(cause(error).find("larger than 65536 bytes"), std::string::npos) << cause(error);
    expectUnchanged();
  }
}

}  // namespace
}  // namespace qelvo::test
