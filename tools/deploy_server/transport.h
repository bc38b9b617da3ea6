// The byte streams of the deploy server's connections: plain TCP or TLS, both on
// non-blocking sockets. Every call does what it can without waiting and says what it
// waits for otherwise, so one event loop drives any number of connections.
//
//   auto result = transport->read(buffer, sizeof buffer);
//   if (result.status == IoStatus::wantRead) return;   // wait for the socket to be readable
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "toolkit/toolkit.h"

struct ssl_ctx_st;

namespace qelvo::deploy {

enum class IoStatus {
  done,       // `bytes` moved (for a handshake: finished)
  wantRead,   // try again when the socket is readable
  wantWrite,  // try again when the socket is writable
  closed,     // the peer ended the connection
  failed,     // the connection is broken
};

struct IoResult {
  IoStatus status = IoStatus::done;
  std::size_t bytes = 0;
};

class Transport {
 public:
  virtual ~Transport() = default;
  int fd() const { return fd_.get(); }

  // Completes the TLS handshake; a plain connection has none.
  virtual IoResult handshake() = 0;
  virtual IoResult read(char* buffer, std::size_t size) = 0;
  virtual IoResult write(const char* data, std::size_t size) = 0;
  // Sends up to `size` bytes of `file` from `offset` (sendfile on plain connections).
  virtual IoResult sendFile(int file, off_t offset, std::size_t size) = 0;

 protected:
  explicit Transport(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

// A TLS server context from a certificate chain and its private key (PEM files).
class TlsContext {
 public:
  // Throws std::runtime_error when the files do not load or do not match.
  TlsContext(const std::filesystem::path& certificateChain, const std::filesystem::path& key);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  ssl_ctx_st* get() const { return context_; }

 private:
  ssl_ctx_st* context_ = nullptr;
};

// A connection over the accepted, non-blocking socket `fd`: TLS when `tls` is given.
std::unique_ptr<Transport> makeTransport(UniqueFd fd, const TlsContext* tls);

}  // namespace qelvo::deploy
