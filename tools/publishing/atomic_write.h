// Writes into a deploy root that a server may be reading at the same moment: every
// file and every snapshot directory appears whole, in one rename, or not at all.
//
//   writeFileAtomically(root / "apps/a/channels/production.json", text);  // readers see old or new
//   renameNoReplace(staging, root / "apps/a/snapshots/v2");              // fails if v2 exists
#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace qelvo::publishing {

// Writes `content` to a temporary file beside `file`, flushes it to disk and renames it
// over `file`. On failure `file` is unchanged and the temporary file is removed.
[[nodiscard]] std::expected<void, std::string> writeFileAtomically(
    const std::filesystem::path& file, std::string_view content);

// Copies `from` to `to` (which must not exist) and flushes the copy to disk.
[[nodiscard]] std::expected<void, std::string> copyFileDurably(const std::filesystem::path& from,
                                                               const std::filesystem::path& to);

// Flushes a file that was written by other means (a library that closes its own file).
[[nodiscard]] std::expected<void, std::string> flushFile(const std::filesystem::path& file);

// Renames `from` to `to` in one step, failing (instead of replacing) when `to` exists;
// then flushes the parent directory so the rename survives a crash.
[[nodiscard]] std::expected<void, std::string> renameNoReplace(const std::filesystem::path& from,
                                                               const std::filesystem::path& to);

// A new, empty directory beside `target` (mode 0755) whose name starts with "." (so no
// reader mistakes it for a finished entry), for assembling `target` before it is
// renamed in.
[[nodiscard]] std::expected<std::filesystem::path, std::string> makeStagingDirectory(
    const std::filesystem::path& target);

}  // namespace qelvo::publishing
