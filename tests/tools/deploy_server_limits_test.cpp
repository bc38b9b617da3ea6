// The deploy server under clients that misbehave: many slow ones, ones that never
// finish, too many, too large. Slow clients are raw sockets that dribble bytes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

using namespace std::chrono_literals;

const std::string kCheckPath = "/apps/shop/channels/check-device";
const std::string kCheckBody = checkBody("shop");

std::string checkRequest() {
  return "POST " + kCheckPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json" +
         "\r\nContent-Length: " + std::to_string(kCheckBody.size()) + "\r\n\r\n" + kCheckBody;
}

// A TCP connection to the server that sends exactly what it is told, when it is told.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};  // no test waits for more than this on one read
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  bool send(std::string_view bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Everything until the server closes the connection (or 5 s pass without a byte); or,
  // for `readSome`, the first bytes of an answer: at least its status line, however the
  // bytes arrive.
  std::string readToEnd() { return read(true); }
  std::string readSome() { return read(false); }

 private:
  std::string read(bool toEnd) {
    std::string received;
    char buffer[4096];
    while (toEnd || received.find("\r\n") == std::string::npos) {
      ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
  }

  int fd_;
  bool connected_ = false;
};

// Two hundred clients send a check one byte at a time; meanwhile ordinary checks, each
// allowed one second, are answered, and in the end the slow clients get their answers too.
TEST(DeployServerLimits, SlowClientsDoNotDelayOthers) {
  DeployFixture server;
  server.publish("shop", "v1", {{"index.html", "x"}});
  const std::string request = checkRequest();
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 200; ++i) {
    slow.push_back(std::make_unique<RawClient>(server.port()));
    ASSERT_TRUE(slow.back()->connected());
  }
  std::atomic<bool> dribbling = true;
  std::size_t sentBytes = 0;
  std::thread dribbler([&] {
    // One byte per client every 50 ms, leaving the last byte unsent.
    while (dribbling && sentBytes + 1 < request.size()) {
      for (auto& client : slow) client->send(request.substr(sentBytes, 1));
      ++sentBytes;
      std::this_thread::sleep_for(50ms);
    }
  });
  std::this_thread::sleep_for(500ms);  // every slow client is well into its head
  httplib::Client client("127.0.0.1", server.port());
  client.set_connection_timeout(1s);
  client.set_read_timeout(1s);
  client.set_write_timeout(1s);
  for (int i = 0; i < 5; ++i) {
    auto answer = client.Post(kCheckPath, kCheckBody, "application/json");
    ASSERT_TRUE(answer) << "check " << i << ": " << httplib::to_string(answer.error());
    EXPECT_EQ(answer->status, 200);
    std::this_thread::sleep_for(100ms);
  }
  dribbling = false;
  dribbler.join();
  EXPECT_GT(sentBytes, 10u);
  for (auto& slowClient : slow) {
    ASSERT_TRUE(slowClient->send(request.substr(sentBytes)));
    EXPECT_TRUE(slowClient->readSome().starts_with("HTTP/1.1 200 OK\r\n"));
  }
}

// Requests the server refuses without parsing them, and clients it stops waiting for.
TEST(DeployServerLimits, RefusesWhatPassesItsBoundsAndDropsStalledClients) {
  deploy::ServingLimits limits;
  limits.maxConnections = 3;
  // Long enough that kept-alive connections outlive a busy machine's pauses, short
  // enough that the stalled client below is dropped soon.
  limits.requestTimeout = 1s;
  limits.framing = {.maxHead = 1024, .maxBody = 2048};
  DeployFixture server({.limits = limits});
  server.publish("shop", "v1", {{"index.html", "x"}});

  const std::string head = "POST " + kCheckPath + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  const struct {
    std::string request;
    std::string statusLine;
  } refusals[] = {
      {head + "Content-Length: 4096\r\n\r\n", "HTTP/1.1 413 "},
      {head + "Transfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n", "HTTP/1.1 411 "},
      {head + "Content-Length: 1\r\nContent-Length: 2\r\n\r\n{}", "HTTP/1.1 400 "},
      {head + "X-Filler: " + std::string(2000, 'a') + "\r\n\r\n", "HTTP/1.1 431 "},
  };
  for (const auto& [request, statusLine] : refusals) {
    RawClient client(server.port());
    ASSERT_TRUE(client.send(request));
    auto answer = client.readToEnd();  // the server closes after refusing
    EXPECT_TRUE(answer.starts_with(statusLine)) << answer;
    EXPECT_NE(answer.find("\"error\":{"), std::string::npos) << answer;
  }
  EXPECT_EQ(server.requests("\" 413 0"), 1u);

  {
    // A client that stops half-way through its head is dropped after the request timeout.
    RawClient stalled(server.port());
    ASSERT_TRUE(stalled.send(head));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(stalled.readToEnd(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  }
  {
    // Connections beyond the bound are answered 503 at once; the others still work.
    std::vector<std::unique_ptr<RawClient>> open;
    for (int i = 0; i < 3; ++i) {
      // Each asks once, so that it waits as a kept-alive connection, not a slow request.
      // The server counts a closed connection until it has seen the close: the clients
      // above may still hold a place for a moment, on a slow (sanitized, emulated) run.
      std::string answer;
      for (int attempt = 0; attempt < 50 && !answer.starts_with("HTTP/1.1 200 OK\r\n"); ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(20ms);
        open.push_back(std::make_unique<RawClient>(server.port()));
        ASSERT_TRUE(open.back()->send(checkRequest()));
        answer = open.back()->readSome();
        if (!answer.starts_with("HTTP/1.1 200 OK\r\n")) open.pop_back();
      }
      ASSERT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << i << ": " << answer;
    }
    RawClient extra(server.port());
    EXPECT_TRUE(extra.readToEnd().starts_with("HTTP/1.1 503 ")) << "beyond the bound";
    ASSERT_TRUE(open[0]->send(checkRequest()));
    EXPECT_TRUE(open[0]->readSome().starts_with("HTTP/1.1 200 OK\r\n"));
  }
}

}  // namespace
}  // namespace qelvo::test
