// What the deploy server tells caches and resuming clients: files are immutable and
// carry validators, and byte ranges honour If-Range. That check answers are never cached
// is pinned by the documented examples of the protocol.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

const std::string kArchive = "/apps/shop/snapshots/v1/bundle.zip";
const std::string kScript = "/apps/shop/snapshots/v1/files/js/app.js";
const std::string kContent = "0123456789abcdefghijklmnopqrstuvwxyz";

TEST(DeployServerCaching, FilesAreImmutableAndServeRangesAgainstTheirValidators) {
  DeployFixture server;
  server.publish("shop", "v1", {{"index.html", "x"}, {"js/app.js", kContent}});
  httplib::Client client("127.0.0.1", server.port());

  auto whole = client.Get(kScript);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->status, 200);
  EXPECT_EQ(whole->body, kContent);
  EXPECT_EQ(whole->get_header_value("Cache-Control"), "public, max-age=31536000, immutable");
  EXPECT_EQ(whole->get_header_value("Accept-Ranges"), "bytes");
  // Validators as nginx makes them, so both origins agree on one root.
  struct stat status {};
  ASSERT_EQ(::stat((server.root().snapshotDirectory("shop", "v1") / "files/js/app.js").c_str(),
                   &status),
            0);
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx\"",
                static_cast<unsigned long long>(status.st_mtim.tv_sec),
                static_cast<unsigned long long>(status.st_size));
  EXPECT_EQ(whole->get_header_value("ETag"), etag);
  const auto lastModified = whole->get_header_value("Last-Modified");
  EXPECT_TRUE(lastModified.ends_with(" GMT")) << lastModified;

  const struct {
    httplib::Headers headers;
    int status;
    std::string body;
    std::string contentRange;
  } cases[] = {
      {{{"Range", "bytes=10-19"}}, 206, kContent.substr(10, 10), "bytes 10-19/36"},
      {{{"Range", "bytes=30-"}}, 206, kContent.substr(30), "bytes 30-35/36"},
      {{{"Range", "bytes=-4"}}, 206, kContent.substr(32), "bytes 32-35/36"},
      {{{"Range", "bytes=30-99"}}, 206, kContent.substr(30), "bytes 30-35/36"},
      {{{"Range", "bytes=10-19"}, {"If-Range", etag}}, 206, kContent.substr(10, 10), "bytes 10-19/36"},
      {{{"Range", "bytes=10-19"}, {"If-Range", lastModified}}, 206, kContent.substr(10, 10), "bytes 10-19/36"},
      {{{"Range", "bytes=10-19"}, {"If-Range", "\"stale-1\""}}, 200, kContent, ""},
      {{{"Range", "bytes=0-1,5-6"}}, 200, kContent, ""},
      {{{"Range", "bytes=36-"}}, 416, "", "bytes */36"},
      {{{"If-None-Match", etag}}, 304, "", ""},
      {{{"If-None-Match", "\"other\", W/" + std::string(etag)}}, 304, "", ""},
      {{{"If-None-Match", "\"other\""}}, 200, kContent, ""},
      {{{"If-Modified-Since", lastModified}}, 304, "", ""},
      {{{"If-Modified-Since", "Thu, 01 Jan 1970 00:00:00 GMT"}}, 200, kContent, ""},
  };
  for (const auto& [headers, expectedStatus, body, contentRange] : cases) {
    auto answer = client.Get(kScript, headers);
    auto name = headers.begin()->first + ": " + headers.begin()->second;
    ASSERT_TRUE(answer) << name;
    EXPECT_EQ(answer->status, expectedStatus) << name;
    EXPECT_EQ(answer->body, body) << name;
    EXPECT_EQ(answer->get_header_value("Content-Range"), contentRange) << name;
    EXPECT_EQ(answer->get_header_value("ETag"), etag) << name;
  }

  // The archive resumes as a file does.
  const auto archive = readFile(server.root().snapshotDirectory("shop", "v1") / "bundle.zip");
  auto rest = client.Get(kArchive, {{"Range", "bytes=100-"}, {"If-Range", etag}});
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->status, 200) << "the archive has validators of its own";
  auto head = client.Head(kArchive);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->get_header_value("Content-Type"), "application/zip");
  const auto archiveEtag = head->get_header_value("ETag");
  rest = client.Get(kArchive, {{"Range", "bytes=100-"}, {"If-Range", archiveEtag}});
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->status, 206);
  EXPECT_EQ(rest->body, archive.substr(100));
}

}  // namespace
}  // namespace qelvo::test
