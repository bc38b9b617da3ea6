#include "retrieval/zip_entry_path.h"

#include <gtest/gtest.h>

namespace qelvo {
namespace {

TEST(ZipEntryPathTest, NamesInsideTheDestinationAreNormalised) {
  struct Case {
    std::string name;
    std::string joined;
    bool isDirectory;
  };
  for (const auto& c : std::vector<Case>{
           {"index.html", "index.html", false},
           {"assets/js/app.js", "assets/js/app.js", false},
           {"assets/", "assets", true},
           {"./a//b/./c.txt", "a/b/c.txt", false},
           {"a/../b.txt", "b.txt", false},
           {"a/b/../../c", "c", false},
           {"./", "", true},
           {"a/../", "", true},
           {"..hidden/..x", "..hidden/..x", false},
           {"C:/not/special", "C:/not/special", false},
       }) {
    SCOPED_TRACE(c.name);
    auto path = entryPathOf(c.name);
    ASSERT_TRUE(path) << path.error();
    EXPECT_EQ(path->joined(), c.joined);
    EXPECT_EQ(path->isDirectory, c.isDirectory);
  }
}

TEST(ZipEntryPathTest, NamesThatCouldLeaveTheDestinationAreRefused) {
  struct Case {
    std::string name;
    std::string reason;
  };
  for (const auto& c : std::vector<Case>{
           {"", "its name is empty"},
           {"/etc/passwd", "its path is absolute"},
           {"//server/share", "its path is absolute"},
           {"..", "its path leaves the destination"},
           {"../x", "its path leaves the destination"},
           {"a/../../x", "its path leaves the destination"},
           {"a/./../..", "its path leaves the destination"},
           {"..\\x", "its name contains a backslash"},
           {"a\\b.txt", "its name contains a backslash"},
           {std::string("a\0/../../x", 10), "its name contains a NUL character"},
           {".", "its path names the destination itself"},
           {"a/..", "its path names the destination itself"},
       }) {
    SCOPED_TRACE(c.name);
    auto path = entryPathOf(c.name);
    ASSERT_FALSE(path);
    EXPECT_EQ(path.error(), c.reason);
  }
}

}  // namespace
}  // namespace qelvo
