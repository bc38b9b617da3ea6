#include "qelvo/url.h"

#include <gtest/gtest.h>

namespace qelvo {
namespace {

TEST(Url, ParsesAbsoluteUrlsAndRefusesEverythingElse) {
  auto url = Url::parse("https://deploy.example.com:8443/apps/x?v=1&flag&sig=a%2Bb");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->scheme(), "https");
  EXPECT_EQ(url->host(), "deploy.example.com");
  EXPECT_EQ(url->port(), 8443);
  EXPECT_EQ(url->path(), "/apps/x");
  EXPECT_EQ(url->queryItems(),
            (std::vector<Url::QueryItem>{{"v", "1"}, {"flag", std::nullopt}, {"sig", "a%2Bb"}}));

  auto plain = Url::parse("http://h");
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(plain->path(), "/");
  EXPECT_EQ(plain->port(), std::nullopt);
  EXPECT_EQ(plain->queryItems(), std::nullopt);

  for (const char* bad : {"", "apps/x", "/apps", "http://exa mple.com/", "http://h/a b"}) {
    EXPECT_FALSE(Url::parse(bad).has_value()) << bad;
  }
}

TEST(Url, AppendsOnePercentEncodedComponent) {
  auto base = *Url::parse("https://h/apps");
  EXPECT_EQ(base.appendingPathComponent("abc").text(), "https://h/apps/abc");
  EXPECT_EQ(base.appendingPathComponent("a b/c?d#e%").path(), "/apps/a%20b%2Fc%3Fd%23e%25");
  // Dot components would be removed as dot segments; they stay components.
  EXPECT_EQ(base.appendingPathComponent("..").appendingPathComponent("x").path(), "/apps/%2E%2E/x");
  EXPECT_EQ(Url::parse("https://h/apps/")->appendingPathComponent("abc").path(), "/apps/abc");
  EXPECT_EQ(Url::parse("https://h/apps?k=v")->appendingPathComponent("abc").text(),
            "https://h/apps/abc?k=v");
  EXPECT_EQ(Url::parse("https://h")->appendingPathComponent("abc").text(), "https://h/abc");
}

TEST(Url, ComposesFromEncodedPartsOnlyWhenTheyFormThatUrl) {
  auto url = Url::compose("http", "127.0.0.1", 8080, "/a//b%20c", {{{"v", "1"}, {"s", "x%2By"}}});
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->text(), "http://127.0.0.1:8080/a//b%20c?v=1&s=x%2By");
  EXPECT_EQ(url, Url::parse("http://127.0.0.1:8080/a//b%20c?v=1&s=x%2By"));

  EXPECT_EQ(Url::compose("https", "h", std::nullopt, "/x", std::nullopt)->text(), "https://h/x");
  EXPECT_EQ(Url::compose("https", "[::1]", 443, "/x", {{}})->text(), "https://[::1]:443/x");
  // Every character a path may hold unencoded, and some that it may not.
  const std::string allowed = "/azAZ09-._~!$&'()*+,;=:@";
  EXPECT_EQ(Url::compose("https", "h", std::nullopt, allowed, std::nullopt)->path(), allowed);

  for (auto [host, path] : std::vector<std::pair<std::string, std::string>>{
           {"h", "/a b"}, {"h", "/a#b"}, {"h", "/a%zz"}, {"h", "/a%2"}, {"h", "/a{b"},
           {"h", "/a\"b"}, {"h", "/a|b"}, {"h", "/a^b"}, {"h", "/a`b"}, {"h", "relative"},
           {"bad host", "/"}, {"user@h", "/"}, {"h/x", "/"}, {"", "/"}}) {
    EXPECT_FALSE(Url::compose("https", host, std::nullopt, path, std::nullopt)) << host << path;
  }
  EXPECT_FALSE(Url::compose("https", "h", std::nullopt, "/", {{{"a&b", "1"}}}));
  EXPECT_FALSE(Url::compose("https", "h", std::nullopt, "/", {{{"a", "1 2"}}}));
}

}  // namespace
}  // namespace qelvo
