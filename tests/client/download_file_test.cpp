#include <curl/curl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "carried_errors.h"
#include "client/live_updates_client.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"
#include "support/test_host.h"

namespace qelvo {
namespace {

namespace fs = std::filesystem;
using test::LoopbackServer;

void serve(LoopbackServer& server, const std::string& path, int status, std::string body) {
  server.handle("GET", path, [status, body](const httplib::Request&, httplib::Response& res) {
    res.status = status;
    res.set_content(body, "application/octet-stream");
  });
}

class DownloadFile : public ::testing::Test {
 protected:
  test::TestHost host;
  test::TempDir destination;
  LoopbackServer server;
  std::shared_ptr<const LiveUpdatesClient> client =
      LiveUpdatesClient::make(server.url("/apps"), {});

  std::expected<void, Error> download(const std::string& path,
                                      LiveUpdatesClient::MoveFile moveFile) {
    return downloadFileAndWait(*client, HttpRequest{.url = server.url(path)}, std::move(moveFile),
                               {});
  }
};

// A refused request still reaches moveFile, and a failing moveFile decides the outcome
// whatever the status; either way no file is left behind.
TEST_F(DownloadFile, RefusalsAndFailedMovesAreTheOutcome) {
  serve(server, "/files/missing", 404, "no such file");
  serve(server, "/files/ok", 200, "body");
  serve(server, "/files/broken", 500, "oops");
  PlatformError noSpace("posix", 28, "No space left on device");
  struct Case {
    std::string path;
    bool moveFails;
    std::string seen;
    Error error;
  };
  const Case cases[] = {
      {"/files/missing", false, "no such file",
       NetworkClientError::invalidResponse(HttpResponse{404, server.url("/files/missing")})},
      {"/files/ok", true, "body", NetworkClientError::networkError(noSpace)},
      {"/files/broken", true, "oops", NetworkClientError::networkError(noSpace)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<std::string> seen;
    auto outcome = download(c.path, [&](const fs::path& file) -> std::expected<void, Error> {
      seen.push_back(test::readFile(file));
      if (c.moveFails) return std::unexpected(noSpace);
      return {};  // leaves the file where it is
    });
    EXPECT_EQ(seen, std::vector<std::string>{c.seen});
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error(), c.error);
    EXPECT_TRUE(test::listFiles(host.tmp()).empty());
  }
}

}  // namespace
}  // namespace qelvo
