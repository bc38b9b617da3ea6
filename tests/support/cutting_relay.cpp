#include "support/cutting_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace qelvo::test {
namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool sendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

CuttingRelay::CuttingRelay(int serverPort) : serverPort_(serverPort) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto address = loopback(0);
  socklen_t length = sizeof address;
  if (listener_ < 0 ||
      ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("the relay cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept(); });
}

CuttingRelay::~CuttingRelay() {
  stopping_ = true;
  ::shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  ::close(listener_);
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& connection : connections) connection.join();
}

void CuttingRelay::arm(std::uint64_t bytes, Stop stop) {
  std::lock_guard lock(mutex_);
  armed_ = Armed{bytes, stop};
}

void CuttingRelay::accept() {
  while (!stopping_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 100) <= 0) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, client] { relay(client); });
  }
}

std::size_t CuttingRelay::allowance(std::uint64_t passed, std::size_t offered,
                                    std::optional<Stop>& stop) {
  std::lock_guard lock(mutex_);
  if (!armed_ || passed + offered < armed_->bytes) return offered;
  stop = armed_->stop;
  const auto allowed =
      static_cast<std::size_t>(armed_->bytes > passed ? armed_->bytes - passed : 0);
  armed_.reset();
  return allowed;
}

void CuttingRelay::relay(int client) {
  int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  auto address = loopback(serverPort_);
  if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (server >= 0) ::close(server);
    ::close(client);
    return;
  }
  std::uint64_t passed = 0;
  char buffer[1 << 15];
  bool open = true;
  bool held = false;  // the server's end is no longer read
  while (open && !stopping_) {
    pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(ends, held ? 1 : 2, 100) <= 0) continue;
    if (ends[0].revents) {
      ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
      open = n > 0 && (held || sendAll(server, buffer, static_cast<std::size_t>(n)));
    }
    if (open && !held && ends[1].revents) {
      ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      std::optional<Stop> stop;
      const auto allowed = allowance(passed, static_cast<std::size_t>(n), stop);
      open = sendAll(client, buffer, allowed) && stop != Stop::cut;
      held = stop == Stop::hold;  // a held end is never read again
      passed += allowed;
      answerBytes_ += allowed;
    }
  }
  ::close(server);
  ::close(client);
}

}  // namespace qelvo::test
