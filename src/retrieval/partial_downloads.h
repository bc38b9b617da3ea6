// Where interrupted downloads wait for their next attempt: {tmp}/qelvo-work/partial, the
// one part of the work area that outlives the sync that wrote it (a failed sync, or a
// killed process, leaves the part that arrived; the next sync of the same URL asks only
// for the rest). Names are the library's own: a digest of the URL, never anything the
// deploy service names; the URL itself is kept beside the part and checked before a
// part is resumed.
//
//   HttpRequest request{.url = url, .resumeFile = partialDownloadFile(tmp, url.text())};
//   auto kept = partialDownloadBytes(*request.resumeFile);  // counts against the bounds
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace qelvo {

// {tmp}/qelvo-work/partial.
std::filesystem::path partialDownloadsDirectory(const std::filesystem::path& temporaryDirectory);

// The file a download of `url` is kept in (its directory is made by the transfer that
// writes there).
std::filesystem::path partialDownloadFile(const std::filesystem::path& temporaryDirectory,
                                          std::string_view url);

// The bytes kept at `file` (0 when none).
std::uint64_t partialDownloadBytes(const std::filesystem::path& file);

// What no sync may resume any longer: parts untouched for `maxAge`, then the oldest
// until the rest holds at most `maxBytes`, and whatever is not a part with its
// validator (left by a process killed between the two). Only while no sync runs.
void sweepPartialDownloads(const std::filesystem::path& temporaryDirectory,
                           std::chrono::hours maxAge = std::chrono::hours(72),
                           std::uint64_t maxBytes = std::uint64_t{1} << 30);

}  // namespace qelvo
