#include "secure/integrity.h"

#include <gtest/gtest.h>

#include "publishing/signed_manifest_writer.h"
#include "retrieval/file_digest.h"
#include "support/temp_dir.h"

namespace qelvo::test {
namespace {

using Violation = IntegrityViolation;

class Integrity : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir_ / "index.html", "<html></html>");
    writeFile(dir_ / "assets/app.js", "console.log(1)");
    writeFile(dir_ / "live-update-manifest.json", "{}");
    std::filesystem::create_directories(dir_ / "assets/empty");
  }
  std::vector<ManifestItem> items() { return publishing::manifestItemsOf(dir_.path()); }
  std::vector<Violation> validate(const std::vector<ManifestItem>& items) {
    return validateIntegrity(dir_.path(), Manifest::fromItems(items));
  }
  TempDir dir_;
};

TEST_F(Integrity, ExactMatchPasses) {
  EXPECT_TRUE(validate(items()).empty());
  EXPECT_TRUE(validateIntegrity(dir_.path(), Manifest::fromItems({})).size() == 2u)
      << "an empty manifest reports every file";
  TempDir empty;
  writeFile(empty / "live-update-manifest.json", "{}");
  EXPECT_TRUE(validateIntegrity(empty.path(), Manifest::fromItems({})).empty());
}

TEST_F(Integrity, DigestsAreCompared) {
  auto listed = items();
  const auto actual = *fileDigestText(dir_ / "index.html");
  EXPECT_EQ(actual.size(), 51u);
  EXPECT_EQ(actual.rfind("sha256-", 0), 0u);
  for (auto& item : listed) {
    if (item.href != "index.html") continue;
    item.integrity = "sha512-abc " + actual + " sha384-def";  // any listed digest matches
  }
  EXPECT_TRUE(validate(listed).empty());

  for (const std::string& wrong : {std::string("sha256-AAAA"), std::string(""),
                                  "sha256-" + [&] {
                                    auto text = actual.substr(7);
                                    for (auto& c : text) c = std::isupper(c) ? std::tolower(c) : std::toupper(c);
                                    return text;
                                  }()}) {
    for (auto& item : listed) {
      if (item.href == "index.html") item.integrity = wrong;
    }
    auto violations = validate(listed);
    ASSERT_EQ(violations.size(), 1u) << wrong;
    EXPECT_EQ(violations[0], (Violation{"index.html", Violation::InvalidSha{wrong, actual}}));
  }
}

TEST_F(Integrity, MissingAndExtraFilesInOrder) {
  auto listed = items();
  listed.push_back({"gone.css", 3, "sha256-x"});
  listed.push_back({"./assets/../index.html", 13, *fileDigestText(dir_ / "index.html")});
  writeFile(dir_ / "assets/deep/extra.png", "png");
  writeFile(dir_ / ".hidden", "h");
  // Only the manifest at the root is left out: others by that name are files like any.
  writeFile(dir_ / "old-live-update-manifest.json", "js");
  writeFile(dir_ / "js/live-update-manifest.json", "js");
  writeFile(dir_ / "zz/after.js", "after");
  auto violations = validate(listed);
  ASSERT_EQ(violations.size(), 6u);
  EXPECT_EQ(violations[0], (Violation{"gone.css", Violation::FileNotFound{}}));
  EXPECT_EQ(violations[1], (Violation{".hidden", Violation::FileNotInManifest{}}));
  EXPECT_EQ(violations[2], (Violation{"assets/deep/extra.png", Violation::FileNotInManifest{}}));
  EXPECT_EQ(violations[3], (Violation{"js/live-update-manifest.json", Violation::FileNotInManifest{}}));
  EXPECT_EQ(violations[4], (Violation{"old-live-update-manifest.json", Violation::FileNotInManifest{}}));
  EXPECT_EQ(violations[5], (Violation{"zz/after.js", Violation::FileNotInManifest{}}));
}

TEST_F(Integrity, HrefsLeavingTheDirectoryAreNotRead) {
  TempDir outside;
  writeFile(outside / "secret", "s");
  auto listed = items();
  auto relative = std::filesystem::relative(outside / "secret", dir_.path()).string();
  listed.push_back({relative, 1, *fileDigestText(outside / "secret")});
  auto violations = validate(listed);
  ASSERT_EQ(violations.size(), 1u);
  EXPECT_EQ(violations[0], (Violation{relative, Violation::FileNotFound{}}));
}

}  // namespace
}  // namespace qelvo::test
