// Validation hashes the listed files on several threads; the violations must still be
// listed in the order the manifest's items are visited, then the extra files by path.
#include <gtest/gtest.h>

#include <algorithm>

#include "retrieval/file_digest.h"
#include "secure/integrity.h"
#include "support/temp_dir.h"

namespace qelvo::test {
namespace {

using Violation = IntegrityViolation;

TEST(ParallelIntegrityTest, ViolationsFollowTheItemOrder) {
  TempDir dir;
  std::vector<ManifestItem> items;
  for (int i = 0; i < 2000; ++i) {
    std::string href = "assets/" + std::to_string(i % 23) + "/file" + std::to_string(i) + ".js";
    std::string content = "content " + std::to_string(i);
    std::string integrity = contentDigestText(content);
    if (i % 97 == 0) {
      integrity = contentDigestText("other");  // a changed file
    } else if (i % 131 == 0) {
      href += ".missing";  // listed, never written
    }
    if (href.find(".missing") == std::string::npos) writeFile(dir / href, content);
    items.push_back({href, content.size(), integrity});
  }
  for (int i = 0; i < 40; ++i) writeFile(dir / ("extra/" + std::to_string(i * 7919 % 40)), "x");
  writeFile(dir / "live-update-manifest.json", "{}");
  const auto manifest = Manifest::fromItems(items);

  // What a loop over the items, one after the other, reports.
  std::vector<Violation> expected;
  for (const auto& item : manifest.payload) {
    if (item.href.find(".missing") != std::string::npos) {
      expected.push_back({item.href, Violation::FileNotFound{}});
    } else if (auto actual = *fileDigestText(dir / item.href);
               item.integrity.find(actual) == std::string::npos) {
      expected.push_back({item.href, Violation::InvalidSha{item.integrity, actual}});
    }
  }
  std::vector<std::string> extras;
  for (int i = 0; i < 40; ++i) extras.push_back("extra/" + std::to_string(i));
  std::sort(extras.begin(), extras.end());
  for (const auto& extra : extras) expected.push_back({extra, Violation::FileNotInManifest{}});
  ASSERT_GT(expected.size(), 60u);

  for (int attempt = 0; attempt < 5; ++attempt) {
    EXPECT_EQ(validateIntegrity(dir.path(), manifest), expected);
  }
}

}  // namespace
}  // namespace qelvo::test
