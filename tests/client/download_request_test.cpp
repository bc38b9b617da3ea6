#include "client/download_request.h"

#include <gtest/gtest.h>

namespace qelvo {
namespace {

DownloadFileRequest build(const std::string& manifestUrl, const std::string& href) {
  auto request = makeDownloadFileRequestBuilder(*Url::parse(manifestUrl))(href);
  EXPECT_TRUE(request.has_value());
  return request.value_or(DownloadFileRequest{});
}

std::string fileUrl(const DownloadFileRequest& request) {
  auto http = makeHttpRequest(request);
  return http ? http->url.text() : "<none>";
}

TEST(DownloadRequest, SplitsTheManifestUrlAndTheHref) {
  auto request = build("https://cdn.example.com/a/b/live-update-manifest.json?v=1", "js/app.js");
  EXPECT_EQ(request, (DownloadFileRequest{.basePath = "/a/b",
                                          .href = "js/app.js",
                                          .scheme = "https",
                                          .host = "cdn.example.com",
                                          .port = std::nullopt,
                                          .queryItems = {{{"v", "1"}}},
                                          .parentHref = "js",
                                          .filename = "app.js"}));
  EXPECT_EQ(fileUrl(request), "https://cdn.example.com/a/b/js/app.js?v=1");
  auto http = makeHttpRequest(request);
  EXPECT_EQ(http->method, "GET");
  EXPECT_TRUE(http->headers.empty());
  EXPECT_EQ(http->idleTimeout, std::chrono::seconds(60));
}

TEST(DownloadRequest, EdgeCasesOfPathsAndHrefs) {
  auto root = build("https://h/m.json", "index.html");
  EXPECT_EQ(root.basePath, "/");
  EXPECT_EQ(root.parentHref, "");
  EXPECT_EQ(root.filename, "index.html");
  EXPECT_EQ(root.queryItems, std::nullopt);
  EXPECT_EQ(fileUrl(root), "https://h/index.html");

  auto doubled = build("https://h/x/m.json", "a//b/c.css");
  EXPECT_EQ(doubled.parentHref, "a/b");
  EXPECT_EQ(doubled.filename, "c.css");
  EXPECT_EQ(fileUrl(doubled), "https://h/x/a//b/c.css");

  EXPECT_EQ(build("https://h/", "f").basePath, "/");
  EXPECT_EQ(build("https://h", "f").basePath, "/");
  EXPECT_EQ(build("https://h//a//b//m.json", "f").basePath, "/a/b");
  EXPECT_EQ(build("https://h/a/m.json", "").filename, "");
  EXPECT_EQ(build("https://h/a/m.json", "/").filename, "");

  // The port is kept, and hrefs are plain paths: they are percent-encoded.
  auto local = build("http://127.0.0.1:8123/dir%20one/m.json", "my file#1.js");
  EXPECT_EQ(local.basePath, "/dir one");
  EXPECT_EQ(fileUrl(local), "http://127.0.0.1:8123/dir%20one/my%20file%231.js");
}

TEST(DownloadRequest, QueryItemsAreRepeatedAsTheyWere) {
  auto request = build("https://h/m.json?token=a%2Bb%3D&flag&x=", "f.js");
  EXPECT_EQ(fileUrl(request), "https://h/f.js?token=a%2Bb%3D&flag&x=");
}

TEST(DownloadRequest, NoRequestsWithoutSchemeAndHostOrWhenPartsDoNotCompose) {
  auto builder = makeDownloadFileRequestBuilder(*Url::parse("file:///var/m.json"));
  EXPECT_EQ(builder("index.html"), std::nullopt);

  DownloadFileRequest broken = build("https://h/m.json", "f");
  broken.host = "bad host";
  EXPECT_EQ(makeHttpRequest(broken), std::nullopt);
}

}  // namespace
}  // namespace qelvo
