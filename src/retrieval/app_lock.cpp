#include "retrieval/app_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace qelvo {

std::expected<AppLock, AppLock::Failure> AppLock::acquire(
    const std::filesystem::path& applicationDirectory, std::chrono::milliseconds patience,
    std::stop_token stop) {
  UniqueFd fd(::open(applicationDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return AppLock(UniqueFd());
  const auto deadline = std::chrono::steady_clock::now() + patience;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return AppLock(std::move(fd));
    if (errno != EWOULDBLOCK && errno != EINTR) return AppLock(UniqueFd());
    if (stop.stop_requested()) return std::unexpected(Failure::cancelled);
    if (std::chrono::steady_clock::now() >= deadline) return std::unexpected(Failure::timedOut);
    // Polled rather than a blocking flock, so that a stop request is seen within moments.
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

}  // namespace qelvo
