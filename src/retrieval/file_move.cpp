// Moving without replacing: the destination of every move in the cache must not exist,
// so a half-finished or concurrent writer can never have its directory swapped out.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>

#include "retrieval/file_system.h"

namespace qelvo::files {
namespace {

bool existsWithoutFollowing(const path& item) {
  struct stat status {};
  return ::lstat(item.c_str(), &status) == 0;
}

// Returns 0 or an errno value.
int renameWithoutReplacing(const path& from, const path& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  // Filesystems without the flag answer EINVAL; kernels without the call ENOSYS.
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  // Without the atomic flag: check, then rename. Rename would silently replace an
  // empty directory or a file, which is exactly what must not happen.
  if (existsWithoutFollowing(to)) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::expected<void, PlatformError> copyThenRemove(const path& from, const path& to,
                                                  const std::string& what) {
  if (existsWithoutFollowing(to)) return std::unexpected(PlatformError::fromErrno(EEXIST, what));
  std::error_code error;
  std::filesystem::copy(
      from, to,
      std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks,
      error);
  if (error) {
    std::error_code ignored;  // the source is intact; drop the partial copy
    std::filesystem::remove_all(to, ignored);
    return std::unexpected(platformError(error, what));
  }
  std::filesystem::remove_all(from, error);
  if (error) return std::unexpected(platformError(error, what));
  return {};
}

}  // namespace

std::expected<void, PlatformError> moveWithoutReplacing(const path& from, const path& to) {
  auto what = "Could not move " + quoted(from) + " to " + quoted(to);
  int error = renameWithoutReplacing(from, to);
  if (error == 0) return {};
  if (error == EXDEV) return copyThenRemove(from, to, what);
  return std::unexpected(PlatformError::fromErrno(error, what));
}

}  // namespace qelvo::files
