#include "retrieval/zip_extractor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using test::ZipBuilder;

int codeOf(ArchiveRefusal refusal) { return static_cast<int>(refusal); }

// A destination with an empty sentinel directory beside it: whatever escapes lands there.
class ZipExtractorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(destination());
    fs::create_directories(sentinel());
  }
  fs::path destination() const { return dir / "destination"; }
  fs::path sentinel() const { return dir / "sentinel"; }
  fs::path archive() const { return dir / "bundle.zip"; }

  std::expected<void, PlatformError> extract(const ZipBuilder& builder,
                                             const ExtractLimits& limits = {}) {
    builder.write(archive());
    return extractZip(archive(), destination(), limits);
  }

  // The extraction failed with `refusal` naming `entry`, and nothing was written anywhere.
  void expectRefusedUntouched(const std::expected<void, PlatformError>& result,
                              ArchiveRefusal refusal, const std::string& entry) {
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().domain, kArchiveErrorDomain);
    EXPECT_EQ(result.error().code, codeOf(refusal)) << result.error().description;
    EXPECT_NE(result.error().description.find("\"" + entry + "\""), std::string::npos)
        << result.error().description;
    EXPECT_TRUE(fs::is_empty(destination()));
    EXPECT_TRUE(fs::is_empty(sentinel()));
  }

  test::TempDir dir;
};

TEST_F(ZipExtractorTest, HostileNamesAndTypesAreRefusedBeforeAnythingIsWritten) {
  auto outside = (sentinel() / "evil.txt").string();
  auto okFirst = [] {
    return ZipBuilder().file("first-ok.txt", "written only if nothing is refused");
  };
  struct Case {
    ZipBuilder archive;
    ArchiveRefusal refusal;
    std::string named;
  };
  std::vector<Case> cases{
      {okFirst().file("../sentinel/evil.txt", "x"), ArchiveRefusal::unsafePath,
       "../sentinel/evil.txt"},
      {okFirst().file("a/../../sentinel/evil.txt", "x"), ArchiveRefusal::unsafePath,
       "a/../../sentinel/evil.txt"},
      {okFirst().file(outside, "x"), ArchiveRefusal::unsafePath, outside},
      {okFirst().file("..\\sentinel\\evil.txt", "x"), ArchiveRefusal::unsafePath,
       "..\\sentinel\\evil.txt"},
      {okFirst().symlink("link", "../sentinel").file("link/evil.txt", "x"),
       ArchiveRefusal::unsupportedEntryType, "link"},
      {okFirst().file("fifo", "").withMode(S_IFIFO | 0644), ArchiveRefusal::unsupportedEntryType,
       "fifo"},
      // One path claimed twice.
      {okFirst().file("a.txt", "1").file("./a.txt", "2"), ArchiveRefusal::duplicateEntry, "./a.txt"},
      {okFirst().file("a", "1").file("a/b", "2"), ArchiveRefusal::duplicateEntry, "a"},
      {okFirst().directory("a").file("a", "1"), ArchiveRefusal::duplicateEntry, "a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    expectRefusedUntouched(extract(c.archive), c.refusal, c.named);
  }
}

TEST_F(ZipExtractorTest, LinksAlreadyInTheDestinationAreNeverFollowed) {
  fs::create_directory_symlink(sentinel(), destination() / "assets");
  fs::create_symlink(sentinel() / "index.html", destination() / "index.html");  // dangling
  for (const auto* name : {"assets/app.js", "index.html"}) {
    SCOPED_TRACE(name);
    auto result = extract(ZipBuilder().file(name, "x"));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().domain, "posix");
    EXPECT_NE(result.error().description.find(name), std::string::npos)
        << result.error().description;
    EXPECT_TRUE(fs::is_empty(sentinel()));
  }
}

TEST_F(ZipExtractorTest, EqualNamesEncryptedEntriesAndUnknownMethodsAreRefused) {
  // libzip will not write two equal names: forge the second one.
  ZipBuilder().file("a.txt", "1").file("b.txt", "2").write(archive());
  ASSERT_EQ(test::patchBytes(archive(), "b.txt", "a.txt"), 2);
  expectRefusedUntouched(extractZip(archive(), destination()), ArchiveRefusal::duplicateEntry,
                         "a.txt");
  if (zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1)) {
    expectRefusedUntouched(extract(ZipBuilder().file("secret.txt", "s").encrypted("pw")),
                           ArchiveRefusal::encryptedEntry, "secret.txt");
  }
  ZipBuilder().file("odd.bin", "content", ZipBuilder::Method::stored).write(archive());
  // The method field: 8 bytes into the local header, 10 into the central one.
  auto bytes = readFile(archive());
  for (auto [signature, offset] :
       {std::pair{std::string("PK\3\4"), 8}, std::pair{std::string("PK\1\2"), 10}}) {
    auto at = bytes.find(signature);
    ASSERT_NE(at, std::string::npos);
    bytes[at + offset] = 77;  // no method has this number
  }
  writeFile(archive(), bytes);
  expectRefusedUntouched(extractZip(archive(), destination()),
                         ArchiveRefusal::unsupportedCompression, "odd.bin");
}

TEST_F(ZipExtractorTest, LimitsStopArchivesBeforeTheyAreUnpacked) {
  std::string zeros(2 << 20, '\0');  // deflates about 1000:1
  auto bomb = ZipBuilder().file("zeros.bin", zeros);
  expectRefusedUntouched(extract(bomb, {.maxCompressionRatio = 100}), ArchiveRefusal::limitExceeded,
                         "zeros.bin");
  expectRefusedUntouched(extract(bomb, {.maxTotalUncompressedBytes = zeros.size() - 1}),
                         ArchiveRefusal::limitExceeded, "zeros.bin");

  ASSERT_TRUE(extract(bomb));  // the defaults admit what deflate can honestly do
  EXPECT_EQ(readFile(destination() / "zeros.bin"), zeros);
}

TEST_F(ZipExtractorTest, AnEmptyArchiveExtractsToNothing) {
  writeFile(archive(), std::string("PK\5\6", 4) + std::string(18, '\0'));
  EXPECT_TRUE(extractZip(archive(), destination()));
  EXPECT_TRUE(fs::is_empty(destination()));

  auto missing = extractZip(archive(), dir / "no-such-destination");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().domain, "posix");
}

}  // namespace
}  // namespace qelvo
