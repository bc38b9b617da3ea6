#include "deploy_server/transport.h"

#include <errno.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace qelvo::deploy {
namespace {

IoResult fromErrno() {
  if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::wantRead, 0};
  return {IoStatus::failed, 0};
}

class PlainTransport final : public Transport {
 public:
  explicit PlainTransport(UniqueFd fd) : Transport(std::move(fd)) {}

  IoResult handshake() override { return {IoStatus::done, 0}; }

  IoResult read(char* buffer, std::size_t size) override {
    while (true) {
      ssize_t n = ::recv(fd(), buffer, size, 0);
      if (n > 0) return {IoStatus::done, static_cast<std::size_t>(n)};
      if (n == 0) return {IoStatus::closed, 0};
      if (errno != EINTR) return fromErrno();
    }
  }

  IoResult write(const char* data, std::size_t size) override {
    while (true) {
      ssize_t n = ::send(fd(), data, size, MSG_NOSIGNAL);
      if (n >= 0) return {IoStatus::done, static_cast<std::size_t>(n)};
      if (errno != EINTR) return writeError();
    }
  }

  IoResult sendFile(int file, off_t offset, std::size_t size) override {
    while (true) {
      ssize_t n = ::sendfile(fd(), file, &offset, size);
      if (n > 0) return {IoStatus::done, static_cast<std::size_t>(n)};
      if (n == 0) return {IoStatus::failed, 0};  // the file shrank under us
      if (errno != EINTR) return writeError();
    }
  }

 private:
  static IoResult writeError() {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::wantWrite, 0};
    return {IoStatus::failed, 0};
  }
};

class TlsTransport final : public Transport {
 public:
  TlsTransport(UniqueFd fd, SSL_CTX* context) : Transport(std::move(fd)), ssl_(SSL_new(context)) {
    if (!ssl_ || SSL_set_fd(ssl_, this->fd()) != 1) throw std::runtime_error("SSL_new failed");
    SSL_set_accept_state(ssl_);
  }
  ~TlsTransport() override {
    if (ssl_) SSL_free(ssl_);  // no close_notify: the socket may not take it without waiting
  }

  IoResult handshake() override {
    int result = SSL_do_handshake(ssl_);
    return result == 1 ? IoResult{IoStatus::done, 0} : failure(result);
  }

  IoResult read(char* buffer, std::size_t size) override {
    std::size_t n = 0;
    int result = SSL_read_ex(ssl_, buffer, size, &n);
    return result == 1 ? IoResult{IoStatus::done, n} : failure(result);
  }

  IoResult write(const char* data, std::size_t size) override {
    std::size_t n = 0;
    int result = SSL_write_ex(ssl_, data, size, &n);
    return result == 1 ? IoResult{IoStatus::done, n} : failure(result);
  }

  // Reads a piece of the file and encrypts it; a piece that the socket did not take yet
  // is kept and offered again first, as TLS requires.
  IoResult sendFile(int file, off_t offset, std::size_t size) override {
    if (pending_.empty()) {
      pending_.resize(std::min(size, kPiece));
      ssize_t n = ::pread(file, pending_.data(), pending_.size(), offset);
      if (n <= 0) return {IoStatus::failed, 0};
      pending_.resize(static_cast<std::size_t>(n));
    }
    auto result = write(pending_.data(), pending_.size());
    if (result.status == IoStatus::done) pending_.erase(0, result.bytes);
    return result;
  }

 private:
  static constexpr std::size_t kPiece = 16 * 1024;  // one TLS record

  IoResult failure(int result) {
    switch (SSL_get_error(ssl_, result)) {
      case SSL_ERROR_WANT_READ:
        return {IoStatus::wantRead, 0};
      case SSL_ERROR_WANT_WRITE:
        return {IoStatus::wantWrite, 0};
      case SSL_ERROR_ZERO_RETURN:
        return {IoStatus::closed, 0};
      default:
        ERR_clear_error();  // the queue is per thread: leave it clean for the next connection
        return {IoStatus::failed, 0};
    }
  }

  SSL* ssl_;
  std::string pending_;
};

}  // namespace

TlsContext::TlsContext(const std::filesystem::path& certificateChain,
                       const std::filesystem::path& key)
    : context_(SSL_CTX_new(TLS_server_method())) {
  if (!context_ ||
      SSL_CTX_use_certificate_chain_file(context_, certificateChain.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context_, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context_) != 1) {
    ERR_clear_error();
    if (context_) SSL_CTX_free(context_);
    throw std::runtime_error("The TLS certificate or key could not be loaded");
  }
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  SSL_CTX_set_mode(context_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                 SSL_MODE_RELEASE_BUFFERS);
}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

std::unique_ptr<Transport> makeTransport(UniqueFd fd, const TlsContext* tls) {
  if (tls) return std::make_unique<TlsTransport>(std::move(fd), tls->get());
  return std::make_unique<PlainTransport>(std::move(fd));
}

}  // namespace qelvo::deploy
