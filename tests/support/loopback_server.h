// An HTTP(S) server on 127.0.0.1, on a free port, serving from background threads for
// the lifetime of the object: the far end of every network test.
//
//   LoopbackServer server;
//   server.handle("GET", "/files/.*", [](const httplib::Request&, httplib::Response& res) {
//     res.set_content("hello", "text/plain");
//   });
//   auto url = server.url("/files/a.txt");   // http://127.0.0.1:<port>/files/a.txt
//   ... server.requests()[0].path == "/files/a.txt"
//
// Handlers may be added at any time, from any thread; the first one registered whose
// method and pattern match a request answers it, and a request that none matches is
// answered 404. Every request is logged before its handler runs.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "qelvo/url.h"

namespace qelvo::test {

// One request as the server received it.
struct RecordedRequest {
  std::string method;
  std::string path;   // as sent: still percent-encoded, without the query
  std::string query;  // as sent, without "?"; empty when there is none
  httplib::Headers headers;
  std::string body;
  int remotePort = 0;

  // The value of a header (names compare case-insensitively); empty when absent.
  std::string header(const std::string& name) const;
};

class LoopbackServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  struct Options {
    // Certificate chain and key (PEM) to serve HTTPS instead of HTTP.
    std::optional<std::filesystem::path> certificateFile{};
    std::optional<std::filesystem::path> privateKeyFile{};
    // Threads serving connections; a kept-alive connection holds one while it is open.
    std::size_t threads = 16;
    // How long an idle kept-alive connection stays open.
    std::chrono::seconds keepAlive{1};
  };

  LoopbackServer() : LoopbackServer(Options{}) {}
  explicit LoopbackServer(Options options);
  // Releases handlers waiting in `waitForStop`, then stops serving.
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // `pattern` is a regular expression matched against the whole path as sent (still
  // percent-encoded, without the query); the handler finds its groups in
  // `request.matches`.
  void handle(const std::string& method, const std::string& pattern, Handler handler);

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" (or https).
  std::string origin() const;
  // origin() + pathAndQuery, parsed.
  Url url(const std::string& pathAndQuery) const;

  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const { return requestCount_; }
  // TCP connections accepted so far.
  std::size_t connectionCount() const { return *connectionCount_; }

  // For handlers that stall on purpose: waits until the server is being destroyed or
  // `timeout` has passed; true in the first case.
  bool waitForStop(std::chrono::milliseconds timeout) const;

 private:
  struct Route {
    std::string method;
    std::regex pattern;
    Handler handler;
  };

  void dispatch(const httplib::Request& request, httplib::Response& response);

  std::unique_ptr<httplib::Server> server_;
  bool tls_ = false;
  int port_ = 0;
  std::shared_ptr<std::atomic<std::size_t>> connectionCount_;
  std::atomic<std::size_t> requestCount_{0};

  mutable std::mutex mutex_;  // guards the fields below
  mutable std::condition_variable stopping_;
  bool isStopping_ = false;
  std::vector<Route> routes_;
  std::vector<RecordedRequest> log_;

  std::thread thread_;
};

}  // namespace qelvo::test
