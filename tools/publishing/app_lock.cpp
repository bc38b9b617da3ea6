#include "publishing/app_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "qelvo/errors.h"

namespace qelvo::publishing {

std::expected<AppLock, std::string> AppLock::acquire(const std::filesystem::path& appDirectory) {
  std::error_code error;
  std::filesystem::create_directories(appDirectory, error);
  if (error)
    return std::unexpected("Could not create " + appDirectory.string() + ": " + error.message());
  const auto file = appDirectory / ".lock";
  UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd)
    return std::unexpected(
        PlatformError::fromErrno(errno, "Could not open " + file.string()).description);
  int result;
  do {
    result = ::flock(fd.get(), LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0)
    return std::unexpected(
        PlatformError::fromErrno(errno, "Could not lock " + file.string()).description);
  return AppLock(std::move(fd));
}

}  // namespace qelvo::publishing
