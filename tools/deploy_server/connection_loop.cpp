#include "deploy_server/connection_loop.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace qelvo::deploy {
namespace {

constexpr std::size_t kReadPiece = 16 * 1024;
constexpr int kTickMs = 100;  // how often deadlines are looked at
constexpr int kAcceptsPerWake = 64;
constexpr const char* kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

Peer peerOf(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return {text, ntohs(v4.sin_port)};
  }
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
  inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
  return {text, ntohs(v6.sin6_port)};
}

}  // namespace

struct ConnectionLoop::Connection {
  enum class Phase { handshake, reading, writing };

  std::unique_ptr<Transport> transport;
  Peer peer;
  Phase phase = Phase::handshake;
  std::string input;
  std::string output;
  std::size_t sent = 0;
  std::optional<FileBody> file;
  bool closeAfterAnswer = false;
  bool continueOnly = false;   // the output is "100 Continue": the request goes on after it
  bool continued = false;      // "100 Continue" went out for the request being read
  std::size_t served = 0;
  Clock::time_point deadline;
  // What the transport waits for; EPOLLOUT is watched only while it waits to write, so
  // that sent answers do not wake the loop for nothing.
  IoStatus waitingFor = IoStatus::wantRead;
  bool watchingWrites = false;
  // The socket had nothing more to read at the last read (a short or empty read), so
  // the next bytes will come with an event: no read needs trying before it.
  bool drained = false;
};

ConnectionLoop::ConnectionLoop(int listener, const RequestProcessor& processor,
                               const TlsContext* tls, const ServingLimits& limits,
                               std::atomic<std::size_t>& openConnections, std::size_t loopCount,
                               std::function<void()> afterBatch)
    : listener_(listener),
      loopCount_(std::max<std::size_t>(1, loopCount)),
      processor_(processor),
      tls_(tls),
      limits_(limits),
      openConnections_(openConnections),
      afterBatch_(std::move(afterBatch)),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!epoll_ || !wake_) throw std::runtime_error("Could not create an event loop");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = wake_.get();
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event);
  setListening(true);
}

ConnectionLoop::~ConnectionLoop() { openConnections_ -= connections_.size(); }

void ConnectionLoop::setListening(bool listening) {
  if (listening == listening_) return;
  epoll_event event{};
  event.events = EPOLLIN | EPOLLEXCLUSIVE;  // one loop wakes per new connection
  event.data.fd = listener_;
  ::epoll_ctl(epoll_.get(), listening ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, listener_, &event);
  listening_ = listening;
}

void ConnectionLoop::stop() {
  stopping_ = true;
  std::uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof one);
}

void ConnectionLoop::run() {
  std::array<epoll_event, 256> events{};
  auto lastSweep = Clock::now();
  std::optional<Clock::time_point> drainUntil;
  while (true) {
    if (stopping_ && !drainUntil) {
      setListening(false);
      drainUntil = Clock::now() + limits_.drainTimeout;
      sweep(Clock::now(), true);
    }
    if (drainUntil && (connections_.empty() || Clock::now() >= *drainUntil)) break;
    int count = ::epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()), kTickMs);
    for (int i = 0; i < count; ++i) {
      int fd = events[static_cast<std::size_t>(i)].data.fd;
      if (fd == listener_) {
        acceptAll();
      } else if (fd != wake_.get()) {
        advance(fd, events[static_cast<std::size_t>(i)].events);
      }
    }
    if (afterBatch_) afterBatch_();
    auto now = Clock::now();
    if (now - lastSweep >= std::chrono::milliseconds(kTickMs) || drainUntil) {
      sweep(now, drainUntil.has_value());
      lastSweep = now;
      if (!stopping_) setListening(true);  // after running out of descriptors for a while
    }
  }
  std::vector<int> open;
  for (const auto& [fd, connection] : connections_) open.push_back(fd);
  for (int fd : open) close(fd);
}

void ConnectionLoop::acceptAll() {
  // A burst of connections would pile onto the first loop awake: a loop takes many at a
  // time only while it holds no more than its share, else one, leaving the rest (the
  // listening socket stays readable) to the next wake-up, which may go to another loop.
  for (int accepted = 0; accepted < kAcceptsPerWake; ++accepted) {
    if (accepted > 0 && connections_.size() > openConnections_ / loopCount_ + 8) return;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&address), &length,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        setListening(false);  // no descriptor to take it with: look again at the next tick
      }
      return;
    }
    UniqueFd socket(fd);
    if (openConnections_.fetch_add(1) >= limits_.maxConnections) {
      --openConnections_;
      auto refusal = refusalBytes(503, "The server has too many connections.");
      [[maybe_unused]] auto sent = ::send(fd, refusal.data(), refusal.size(), MSG_NOSIGNAL);
      continue;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto connection = std::make_unique<Connection>();
    connection->transport = makeTransport(std::move(socket), tls_);
    connection->peer = peerOf(address);
    connection->deadline = Clock::now() + limits_.requestTimeout;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    event.data.fd = fd;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
      --openConnections_;
      continue;
    }
    connections_.emplace(fd, std::move(connection));
    advance(fd, EPOLLIN);
  }
}

void ConnectionLoop::advance(int fd, std::uint32_t events) {
  auto found = connections_.find(fd);
  if (found == connections_.end()) return;
  auto& connection = *found->second;
  if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) connection.drained = false;
  if (!progress(connection)) {
    close(fd);
    return;
  }
  bool watchWrites = connection.waitingFor == IoStatus::wantWrite;
  if (watchWrites != connection.watchingWrites) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET | (watchWrites ? EPOLLOUT : 0u);
    event.data.fd = fd;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, fd, &event) != 0) {
      close(fd);
      return;
    }
    connection.watchingWrites = watchWrites;
  }
}

bool ConnectionLoop::progress(Connection& connection) {
  while (true) {
    switch (connection.phase) {
      case Connection::Phase::handshake: {
        auto result = connection.transport->handshake();
        if (result.status == IoStatus::wantRead || result.status == IoStatus::wantWrite) {
          connection.waitingFor = result.status;
          return true;
        }
        if (result.status != IoStatus::done) return false;
        connection.phase = Connection::Phase::reading;
        break;
      }
      case Connection::Phase::reading:
        if (!readRequest(connection)) return false;
        if (connection.phase == Connection::Phase::reading) return true;  // waits for bytes
        break;
      case Connection::Phase::writing:
        if (!writeAnswer(connection)) return false;
        if (connection.phase == Connection::Phase::writing) return true;  // waits for room
        break;
    }
  }
}

// Reads until a request is whole (then starts its answer) or the socket has no more.
bool ConnectionLoop::readRequest(Connection& connection) {
  const std::size_t cap = limits_.framing.maxHead + limits_.framing.maxBody + 1;
  char piece[kReadPiece];
  while (true) {
    connection.input.erase(0, leadingEmptyLines(connection.input));
    auto framing = frameRequest(connection.input, limits_.framing);
    switch (framing.state) {
      case FramingState::complete:
        startAnswer(connection, framing.length);
        return true;
      case FramingState::headTooLarge:
        refuse(connection, 431, "The request head is too large.");
        return true;
      case FramingState::bodyTooLarge:
        refuse(connection, 413, "The request body is too large.");
        return true;
      case FramingState::malformed:
        refuse(connection, 400, "The request has an unreadable Content-Length.");
        return true;
      case FramingState::lengthRequired:
        refuse(connection, 411, "Send the request body with a Content-Length.");
        return true;
      case FramingState::incomplete:
        break;
    }
    if (framing.expectsContinue && !connection.continued) {
      connection.continued = true;
      connection.continueOnly = true;
      connection.output = kContinue;
      connection.sent = 0;
      connection.phase = Connection::Phase::writing;
      return true;
    }
    if (connection.input.size() >= cap) {  // cannot happen: framing refuses it first
      refuse(connection, 431, "The request is too large.");
      return true;
    }
    if (connection.drained) {
      connection.waitingFor = IoStatus::wantRead;
      return true;
    }
    const std::size_t asked = std::min(sizeof piece, cap - connection.input.size());
    auto result = connection.transport->read(piece, asked);
    if (result.status == IoStatus::wantRead || result.status == IoStatus::wantWrite) {
      connection.waitingFor = result.status;
      connection.drained = result.status == IoStatus::wantRead;
      return true;
    }
    if (result.status != IoStatus::done) return false;
    // A short read took all the socket had; TLS may hold more decrypted bytes, so only
    // a plain connection counts it as drained.
    connection.drained = !tls_ && result.bytes < asked;
    if (connection.input.empty()) connection.deadline = Clock::now() + limits_.requestTimeout;
    connection.input.append(piece, result.bytes);
  }
}

void ConnectionLoop::startAnswer(Connection& connection, std::size_t length) {
  bool last = stopping_ || connection.served + 1 >= limits_.maxRequestsPerConnection;
  auto reply = processor_.process(std::string_view(connection.input).substr(0, length),
                                  connection.peer, last);
  connection.input.erase(0, length);
  connection.output = std::move(reply.bytes);
  connection.sent = 0;
  connection.file = std::move(reply.file);
  connection.closeAfterAnswer = reply.close;
  connection.continueOnly = false;
  connection.continued = false;
  connection.phase = Connection::Phase::writing;
  connection.deadline = Clock::now() + limits_.sendTimeout;
}

void ConnectionLoop::refuse(Connection& connection, int status, const char* message) {
  processor_.logRefusal(connection.input, connection.peer, status);
  connection.input.clear();
  connection.output = refusalBytes(status, message);
  connection.sent = 0;
  connection.file.reset();
  connection.closeAfterAnswer = true;
  connection.continueOnly = false;
  connection.phase = Connection::Phase::writing;
  connection.deadline = Clock::now() + limits_.sendTimeout;
}

// Sends the head, then the file's bytes; then reads the next request or closes.
bool ConnectionLoop::writeAnswer(Connection& connection) {
  while (connection.sent < connection.output.size() || (connection.file && connection.file->length > 0)) {
    IoResult result;
    if (connection.sent < connection.output.size()) {
      result = connection.transport->write(connection.output.data() + connection.sent,
                                           connection.output.size() - connection.sent);
      if (result.status == IoStatus::done) connection.sent += result.bytes;
    } else {
      auto& file = *connection.file;
      result = connection.transport->sendFile(file.file.get(), file.offset, file.length);
      if (result.status == IoStatus::done) {
        file.offset += static_cast<off_t>(result.bytes);
        file.length -= result.bytes;
      }
    }
    if (result.status == IoStatus::wantRead || result.status == IoStatus::wantWrite) {
      connection.waitingFor = result.status;
      return true;
    }
    if (result.status != IoStatus::done) return false;
    connection.deadline = Clock::now() + limits_.sendTimeout;
  }
  connection.output.clear();
  connection.sent = 0;
  connection.file.reset();
  if (connection.continueOnly) {  // the body of the request comes next
    connection.continueOnly = false;
    connection.phase = Connection::Phase::reading;
    connection.deadline = Clock::now() + limits_.requestTimeout;
    return true;
  }
  if (connection.closeAfterAnswer) return false;
  ++connection.served;
  connection.phase = Connection::Phase::reading;
  connection.deadline =
      Clock::now() + (connection.input.empty() ? limits_.idleTimeout : limits_.requestTimeout);
  return true;
}

void ConnectionLoop::close(int fd) {
  if (connections_.erase(fd) > 0) --openConnections_;  // closing the socket leaves the epoll set
}

// Drops connections past their deadline; while draining, also the ones that wait for a
// request (they would only get a closed connection later).
void ConnectionLoop::sweep(Clock::time_point now, bool draining) {
  std::vector<int> expired;
  for (const auto& [fd, connection] : connections_) {
    bool idle = connection->phase == Connection::Phase::reading && connection->input.empty();
    if (now >= connection->deadline || (draining && idle)) expired.push_back(fd);
  }
  for (int fd : expired) close(fd);
}

}  // namespace qelvo::deploy
