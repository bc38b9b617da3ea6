// The platform file calls the filesystem layer is built on. Each reports a failure as
// a PlatformError whose description names what was attempted on which path; none of
// them prints or throws. Safe from several threads on disjoint paths.
#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "qelvo/errors.h"

namespace qelvo::files {

using std::filesystem::path;

// "<what>: <the system's text>", in the "posix" domain for system error codes.
PlatformError platformError(const std::error_code& error, const std::string& what);

// Quotes a path for a message.
std::string quoted(const path& file);

// Whether something exists at `file`, following symbolic links.
bool exists(const path& file);

// Creates `directory` with its missing parents; an existing directory is success.
std::expected<void, PlatformError> createDirectories(const path& directory);

// Removes `item` with everything below it, without following symbolic links. An item
// that is already gone counts as removed.
std::expected<void, PlatformError> removeRecursively(const path& item);

// Whether the directory lists at least one entry.
std::expected<bool, PlatformError> hasEntries(const path& directory);

// The bytes an unprivileged writer may still use on the filesystem holding `item`.
std::expected<std::uint64_t, PlatformError> freeBytes(const path& item);

// Writes all of `bytes` to the descriptor; 0, or the errno value of the failure.
int writeAll(int fd, std::string_view bytes);

// Writes `text` to `file` in place, creating or truncating it.
std::expected<void, PlatformError> writeTextFile(const path& file, std::string_view text);

// Moves a file or directory to `to`, which must not exist. A rename where possible;
// across filesystems a copy followed by removal of the source.
std::expected<void, PlatformError> moveWithoutReplacing(const path& from, const path& to);

}  // namespace qelvo::files
