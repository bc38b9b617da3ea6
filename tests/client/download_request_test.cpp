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

// Doubled slashes, no directory, percent-encoded directories, a port and a query.
TEST(DownloadRequest, EdgeCasesOfPathsAndHrefs) {
  struct Case {
    std::string manifestUrl, href, basePath, parentHref, filename, fileUrl;
  };
  const Case cases[] = {
      {"https://h/m.json", "index.html", "/", "", "index.html", "https://h/index.html"},
      {"https://h/x/m.json", "a//b/c.css", "/x", "a/b", "c.css", "https://h/x/a//b/c.css"},
      {"https://h/", "f", "/", "", "f", "https://h/f"},
      {"https://h", "f", "/", "", "f", "https://h/f"},
      {"https://h//a//b//m.json", "f", "/a/b", "", "f", "https://h/a/b/f"},
      {"https://h/a/m.json", "", "/a", "", "", "https://h/a/"},
      // Hrefs are plain paths: they are percent-encoded.
      {"http://127.0.0.1:8123/dir%20one/m.json", "my file#1.js", "/dir one", "", "my file#1.js",
       "http://127.0.0.1:8123/dir%20one/my%20file%231.js"},
      // Query items are repeated as they were.
      {"https://h/m.json?token=a%2Bb%3D&flag&x=", "f.js", "/", "", "f.js",
       "https://h/f.js?token=a%2Bb%3D&flag&x="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.manifestUrl + " " + c.href);
    auto request = build(c.manifestUrl, c.href);
    EXPECT_EQ(request.basePath, c.basePath);
    EXPECT_EQ(request.parentHref, c.parentHref);
    EXPECT_EQ(request.filename, c.filename);
    EXPECT_EQ(fileUrl(request), c.fileUrl);
  }
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
