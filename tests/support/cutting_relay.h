// A TCP relay on 127.0.0.1 in front of a server on another loopback port: it passes
// every connection through both ways, counts the bytes of the server's answers, and,
// when armed, stops one connection once its answers have passed a given number of
// bytes: cut (both ends closed), a download caught half-way by a broken network, or
// held (open, nothing more passed on) until its client goes, a download in progress
// when its process is killed.
//
//   CuttingRelay relay(serverPort);
//   relay.cutAt(archiveSize / 2);       // the next connection that gets that far is cut
//   ... a client talks to relay.port() ...
//   relay.answerBytes();                // what the server sent through the relay
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace qelvo::test {

class CuttingRelay {
 public:
  explicit CuttingRelay(int serverPort);
  ~CuttingRelay();
  CuttingRelay(const CuttingRelay&) = delete;
  CuttingRelay& operator=(const CuttingRelay&) = delete;

  int port() const { return port_; }
  // Cuts the next connection whose answers reach `bytes`, right there; once.
  void cutAt(std::uint64_t bytes) { arm(bytes, Stop::cut); }
  // Holds the next connection whose answers reach `bytes` there, open, until its client
  // closes it or the relay goes; once.
  void holdAt(std::uint64_t bytes) { arm(bytes, Stop::hold); }
  std::uint64_t answerBytes() const { return answerBytes_.load(); }
  void resetCount() { answerBytes_ = 0; }

 private:
  enum class Stop { cut, hold };
  struct Armed {
    std::uint64_t bytes;
    Stop stop;
  };
  void arm(std::uint64_t bytes, Stop stop);
  void accept();
  void relay(int client);
  // How many of `offered` answer bytes a connection that passed `passed` may forward;
  // sets `stop` when the connection must stop after them.
  std::size_t allowance(std::uint64_t passed, std::size_t offered, std::optional<Stop>& stop);

  const int serverPort_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> answerBytes_{0};
  std::mutex mutex_;
  std::optional<Armed> armed_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace qelvo::test
