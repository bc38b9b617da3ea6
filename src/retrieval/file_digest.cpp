#include "retrieval/file_digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/base64.h"

namespace qelvo {
namespace {

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

struct FileCloser {
  int fd;
  ~FileCloser() { ::close(fd); }
};

// Fetched once: an implicit fetch at every initialisation takes a lock that threads
// hashing at the same time would contend for.
const EVP_MD* sha256Digest() {
  static EVP_MD* digest = EVP_MD_fetch(nullptr, "SHA256", nullptr);  // kept until exit
  return digest;
}

std::string digestText(const unsigned char* digest, unsigned int length) {
  return "sha256-" + base64Encode(std::string_view(reinterpret_cast<const char*>(digest), length));
}

}  // namespace

std::string contentDigestText(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
  return digestText(digest, length);
}

std::optional<std::string> fileDigestText(const std::filesystem::path& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  FileCloser closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;

  // One context and buffer per thread, reused for every file it hashes.
  thread_local std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
  thread_local std::vector<unsigned char> buffer(1 << 18);
  const EVP_MD* sha256 = sha256Digest();
  if (!context || !sha256 || EVP_DigestInit_ex(context.get(), sha256, nullptr) != 1) {
    return std::nullopt;
  }
  std::uint64_t total = 0;
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(n));
    total += static_cast<std::uint64_t>(n);
    // A short read that reaches the size the file had when opened is its end: the
    // read that would only confirm it is saved (one system call per file).
    if (static_cast<std::size_t>(n) < buffer.size() &&
        total == static_cast<std::uint64_t>(info.st_size)) {
      break;
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return std::nullopt;
  return digestText(digest, length);
}

}  // namespace qelvo
