// Names from outside as paths: what an href resolves to inside its root, and what is
// refused.
#include "base/path_safety.h"

#include <gtest/gtest.h>

namespace qelvo {
namespace {

using namespace std::string_literals;

TEST(PathSafety, HrefsResolveInsideTheirRootOrNotAtAll) {
  const std::vector<std::pair<std::string, std::string>> resolved = {
      {"index.html", "index.html"}, {"/index.html", "index.html"}, {"./a.js", "a.js"},
      {"js/./b.js", "js/b.js"},     {"js/../c.js", "c.js"},        {"/css//./d.css", "css/d.css"},
      {"x/y/../../e.js", "e.js"},   {"...", "..."},                {"%2e%2e/f", "%2e%2e/f"}};
  for (const auto& [href, path] : resolved) {
    EXPECT_EQ(resolvedHref(href), path) << href;
    EXPECT_TRUE(isSafeRelativePath(href)) << href;
  }
  for (const auto& href : {"../escaped.js"s, "/../escaped.js"s, "a/../../escaped.js"s,
                           "js/../../../escaped.js"s, "../snap-1/index.html"s, "a\0b.js"s,
                           "nul\0.js"s, ".."s, "a/.."s, "."s, ""s, "/"s, "//./"s}) {
    EXPECT_FALSE(resolvedHref(href)) << href;
    EXPECT_FALSE(isSafeRelativePath(href)) << href;
  }
}

TEST(PathSafety, APathComponentIsOneName) {
  for (const auto& name : {"snap-1"s, "..."s, "%2e%2e"s, "snap-1.."s, " "s}) {
    EXPECT_TRUE(isSafePathComponent(name)) << name;
  }
  for (const auto& name : {""s, "."s, ".."s, "a/b"s, "/tmp/abs"s, "snap\0x"s, "..\0"s}) {
    EXPECT_FALSE(isSafePathComponent(name)) << name;
  }
}

}  // namespace
}  // namespace qelvo
