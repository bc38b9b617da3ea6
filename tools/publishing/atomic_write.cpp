#include "publishing/atomic_write.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "toolkit/toolkit.h"

namespace qelvo::publishing {
namespace {

std::string errnoText(int error, const std::string& what) {
  return PlatformError::fromErrno(error, what).description;
}

// Flushes a file or directory to disk; the rename of a flushed file is only durable
// once its directory is flushed too.
std::expected<void, std::string> flush(const std::filesystem::path& item, int flags) {
  UniqueFd fd(::open(item.c_str(), flags | O_CLOEXEC));
  if (!fd || ::fsync(fd.get()) != 0)
    return std::unexpected(errnoText(errno, "Could not flush " + files::quoted(item)));
  return {};
}

std::expected<void, std::string> flushDirectory(const std::filesystem::path& directory) {
  return flush(directory.empty() ? "." : directory, O_RDONLY | O_DIRECTORY);
}

}  // namespace

std::expected<void, std::string> writeFileAtomically(const std::filesystem::path& file,
                                                     std::string_view content) {
  auto pattern = (file.parent_path() / ("." + file.filename().string() + ".tmp-XXXXXX")).string();
  UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd)
    return std::unexpected(
        errnoText(errno, "Could not create a file beside " + files::quoted(file)));
  const std::filesystem::path temporary = pattern;
  auto fail = [&](int error, const std::string& what) -> std::expected<void, std::string> {
    ::unlink(temporary.c_str());
    return std::unexpected(errnoText(error, what + " " + files::quoted(file)));
  };
  if (int error = files::writeAll(fd.get(), content); error != 0)
    return fail(error, "Could not write");
  if (::fchmod(fd.get(), 0644) != 0 || ::fsync(fd.get()) != 0)
    return fail(errno, "Could not flush");
  if (fd.close() != 0) return fail(errno, "Could not write");
  if (::rename(temporary.c_str(), file.c_str()) != 0) return fail(errno, "Could not replace");
  return flushDirectory(file.parent_path());
}

std::expected<void, std::string> copyFileDurably(const std::filesystem::path& from,
                                                 const std::filesystem::path& to) {
  if (auto copied = copyFileExclusive(from, to); !copied) {
    return std::unexpected(copied.error().description);
  }
  return flushFile(to);
}

std::expected<void, std::string> flushFile(const std::filesystem::path& file) {
  return flush(file, O_RDONLY);
}

std::expected<void, std::string> renameNoReplace(const std::filesystem::path& from,
                                                 const std::filesystem::path& to) {
  if (auto moved = files::moveWithoutReplacing(from, to); !moved) {
    return std::unexpected(moved.error().description);
  }
  return flushDirectory(to.parent_path());
}

std::expected<std::filesystem::path, std::string> makeStagingDirectory(
    const std::filesystem::path& target) {
  auto pattern =
      (target.parent_path() / ("." + target.filename().string() + ".tmp-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    return std::unexpected(
        errnoText(errno, "Could not create a directory beside " + files::quoted(target)));
  }
  // mkdtemp makes it private; once renamed in, a server running as another user reads it.
  if (::chmod(pattern.c_str(), 0755) != 0) {
    int error = errno;
    ::rmdir(pattern.c_str());
    return std::unexpected(errnoText(error, "Could not open up " + files::quoted(pattern)));
  }
  return std::filesystem::path(pattern);
}

}  // namespace qelvo::publishing
