// ConnectionLoop: one event loop (epoll) that owns connections of the deploy server
// from accept to close. It reads each request whole before anything parses it,
// answers it on its own thread (an answer is a few stats and a little JSON, or the head
// of a file), and sends answers, file bodies included (sendfile), without waiting on any
// one client. So a slow client costs a connection slot and its buffer, never a thread,
// and how long it may take is bounded by the timeouts below. The server runs one loop
// per core over one listening socket.
//
//   ConnectionLoop loop(listener, processor, nullptr, limits, open);
//   std::thread serving([&] { loop.run(); });
//   ...
//   loop.stop();   // stops accepting, lets answers in progress finish, then returns
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

#include "deploy_server/request_framing.h"
#include "deploy_server/request_processor.h"
#include "deploy_server/transport.h"

namespace qelvo::deploy {

// What one server lets its clients take.
struct ServingLimits {
  // Open connections, all loops together; a connection beyond them is answered 503 and
  // closed. Also bounds the requests waiting for an answer: one per connection.
  std::size_t maxConnections = 4096;
  // Event loops (threads); 0: one per core.
  std::size_t eventLoops = 0;
  // The request head, and a body (a check-device request is under 1 KiB).
  FramingLimits framing{};
  // A request's head and body must arrive within this of its first byte (and a new
  // connection's first request within this of the accept).
  std::chrono::milliseconds requestTimeout{10000};
  // A kept-alive connection between requests. Longer than the 60 s that proxies
  // (nginx's upstream keepalive_timeout) keep idle connections, so that it is always
  // the proxy that closes first and never sends a request into a closing connection.
  std::chrono::milliseconds idleTimeout{75000};
  // An answer whose client takes none of it for this long is dropped.
  std::chrono::milliseconds sendTimeout{30000};
  // Requests on one connection before it is closed.
  std::size_t maxRequestsPerConnection = 10000;
  // On stop: how long answers in progress may take to finish.
  std::chrono::milliseconds drainTimeout{2000};
};

class ConnectionLoop {
 public:
  // `listener` is a bound, listening, non-blocking socket shared by `loopCount` loops;
  // `openConnections` counts the connections of all loops. `afterBatch` runs after each
  // round of events (the server flushes its access log there).
  ConnectionLoop(int listener, const RequestProcessor& processor, const TlsContext* tls,
                 const ServingLimits& limits, std::atomic<std::size_t>& openConnections,
                 std::size_t loopCount, std::function<void()> afterBatch = {});
  ~ConnectionLoop();
  ConnectionLoop(const ConnectionLoop&) = delete;
  ConnectionLoop& operator=(const ConnectionLoop&) = delete;

  // Serves until `stop`; then drains (see ServingLimits::drainTimeout) and returns.
  void run();
  // May be called from any thread, also before `run`.
  void stop();

 private:
  struct Connection;
  using Clock = std::chrono::steady_clock;

  void acceptAll();
  // Moves the connection on after epoll reported `events` for it.
  void advance(int fd, std::uint32_t events);
  // False when the connection is finished and must be closed.
  bool progress(Connection& connection);
  bool readRequest(Connection& connection);
  bool writeAnswer(Connection& connection);
  void startAnswer(Connection& connection, std::size_t length);
  void refuse(Connection& connection, int status, const char* message);
  void close(int fd);
  void sweep(Clock::time_point now, bool draining);
  void setListening(bool listening);

  int listener_;
  std::size_t loopCount_;
  const RequestProcessor& processor_;
  const TlsContext* tls_;
  ServingLimits limits_;
  std::atomic<std::size_t>& openConnections_;
  std::function<void()> afterBatch_;
  UniqueFd epoll_;
  UniqueFd wake_;
  std::atomic<bool> stopping_ = false;
  bool listening_ = false;
  std::unordered_map<int, std::unique_ptr<Connection>> connections_;
};

}  // namespace qelvo::deploy
