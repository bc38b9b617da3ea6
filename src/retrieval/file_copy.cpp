#include "retrieval/file_copy.h"

#include "base/file_modes.h"
#include "base/unique_fd.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace qelvo {
namespace {

bool copyWithReadWrite(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t written = 0; written < n;) {
      ssize_t w = ::write(out, buffer + written, static_cast<std::size_t>(n - written));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      written += w;
    }
  }
}

// The filesystem (of the sources) this thread found unable to share blocks: asking
// again for every file of a bundle would cost a system call each.
thread_local dev_t noCloneDevice = static_cast<dev_t>(-1);

bool copyContents(int in, int out, const struct stat& source) {
  if (source.st_dev != noCloneDevice) {
    if (::ioctl(out, FICLONE, in) == 0) return true;
    if (errno == EOPNOTSUPP || errno == EXDEV || errno == ENOTTY) {
      noCloneDevice = source.st_dev;
    }
  }
  // At most 1 GiB a call: on a 32-bit system the rest of a file over 4 GiB would not fit
  // in size_t, and a wrapped length of 0 would end the copy early, as if the file had
  // shrunk.
  constexpr off_t kLargestChunk = off_t{1} << 30;
  off_t remaining = source.st_size;
  while (remaining > 0) {
    const auto chunk = static_cast<std::size_t>(std::min(remaining, kLargestChunk));
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL) {
        return copyWithReadWrite(in, out);
      }
      return false;
    }
    if (n == 0) break;  // the source shrank while we copied
    remaining -= n;
  }
  return true;
}

}  // namespace

std::expected<void, PlatformError> copyFileExclusive(const std::filesystem::path& from,
                                                     const std::filesystem::path& to, mode_t mode) {
  const std::string what = "Unable to copy " + from.string() + " to " + to.string();
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!in) return std::unexpected(PlatformError::fromErrno(errno, what));
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return std::unexpected(PlatformError::fromErrno(errno, what));
  if (!S_ISREG(info.st_mode)) return std::unexpected(PlatformError::fromErrno(EINVAL, what));
  UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
  if (!out) return std::unexpected(PlatformError::fromErrno(errno, what));
  if (!copyContents(in.get(), out.get(), info) || out.close() != 0) {
    int err = errno;
    ::unlink(to.c_str());
    return std::unexpected(PlatformError::fromErrno(err, what));
  }
  return {};
}

}  // namespace qelvo
