#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
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

// What `moveFile` saw: the bytes of each file it was handed.
struct MoveLog {
  std::vector<std::string> contents;
  std::vector<fs::path> files;
};

LiveUpdatesClient::MoveFile moveTo(fs::path destination, MoveLog& log) {
  return [destination, &log](const fs::path& file) -> std::expected<void, Error> {
    log.contents.push_back(test::readFile(file));
    log.files.push_back(file);
    fs::rename(file, destination);
    return {};
  };
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

TEST_F(DownloadFile, HandsTheBodyToMoveFileInTheTemporaryDirectory) {
  serve(server, "/files/a.bin", 200, std::string("zip\0bytes", 9));
  serve(server, "/files/empty", 200, "");
  MoveLog log;

  ASSERT_TRUE(download("/files/a.bin", moveTo(destination / "a.bin", log)).has_value());
  ASSERT_TRUE(download("/files/empty", moveTo(destination / "empty", log)).has_value());

  EXPECT_EQ(test::readFile(destination / "a.bin"), std::string("zip\0bytes", 9));
  EXPECT_TRUE(fs::is_regular_file(destination / "empty"));
  EXPECT_EQ(fs::file_size(destination / "empty"), 0u);
  ASSERT_EQ(log.files.size(), 2u);
  EXPECT_EQ(log.files[0].parent_path(), host.tmp());
  EXPECT_NE(log.files[0], log.files[1]);
  EXPECT_TRUE(test::listFiles(host.tmp()).empty());
}

TEST_F(DownloadFile, RefusedRequestReachesMoveFileThenFailsAsInvalidResponse) {
  serve(server, "/files/missing", 404, "no such file");
  int calls = 0;
  std::string seen;
  auto outcome =
      download("/files/missing", [&](const fs::path& file) -> std::expected<void, Error> {
        ++calls;
        seen = test::readFile(file);
        return {};  // leaves the file where it is
      });

  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, "no such file");
  ASSERT_FALSE(outcome.has_value());
  auto expected =
      NetworkClientError::invalidResponse(HttpResponse{404, server.url("/files/missing")});
  EXPECT_EQ(outcome.error(), Error(expected));
  // A file that moveFile left behind is removed once it returns.
  EXPECT_TRUE(test::listFiles(host.tmp()).empty());
}

TEST_F(DownloadFile, FailingMoveFileIsANetworkErrorCarryingItWhateverTheStatus) {
  serve(server, "/files/ok", 200, "body");
  serve(server, "/files/broken", 500, "oops");
  PlatformError failure("posix", 28, "No space left on device");
  for (const char* path : {"/files/ok", "/files/broken"}) {
    SCOPED_TRACE(path);
    auto outcome = download(path, [&](const fs::path&) -> std::expected<void, Error> {
      return std::unexpected(failure);
    });
    ASSERT_FALSE(outcome.has_value());
    EXPECT_EQ(outcome.error(), Error(NetworkClientError::networkError(failure)));
  }
  EXPECT_TRUE(test::listFiles(host.tmp()).empty());
}

TEST_F(DownloadFile, TransferFailureIsANetworkErrorAndMoveFileIsNotCalled) {
  auto closedPort = [] {
    LoopbackServer gone;
    return gone.url("/files/a");
  }();
  bool called = false;
  auto outcome = downloadFileAndWait(*client, HttpRequest{.url = closedPort},
                                     [&](const fs::path&) -> std::expected<void, Error> {
                                       called = true;
                                       return {};
                                     },
                                     {});
  EXPECT_FALSE(called);
  ASSERT_FALSE(outcome.has_value());
  const auto* transfer = test::carriedTransferError(outcome.error());
  ASSERT_NE(transfer, nullptr) << outcome.error().localizedDescription();
  EXPECT_EQ(transfer->curlCode, CURLE_COULDNT_CONNECT);
}

TEST_F(DownloadFile, MoveFileRunsBeforeTheCallCompletes) {
  serve(server, "/files/a", 200, "a");
  std::atomic<bool> moved = false;
  std::promise<bool> movedAtCompletion;
  client->downloadFile(
      HttpRequest{.url = server.url("/files/a")},
      [&](const fs::path&) -> std::expected<void, Error> {
        moved = true;
        return {};
      },
      {}, [&](std::expected<void, Error>) { movedAtCompletion.set_value(moved.load()); });
  EXPECT_TRUE(movedAtCompletion.get_future().get());
}

}  // namespace
}  // namespace qelvo
