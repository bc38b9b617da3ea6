// The answer to a GET or HEAD of a bundle file or archive, as caches and resuming
// clients expect it. A snapshot never changes once published and its URLs are never
// reused, so its files may be cached for a year ("immutable"). Validators follow
// nginx's: the ETag is "<mtime hex>-<size hex>" and Last-Modified the file's mtime, so a
// root copied with its times (rsync -t, object storage syncs that keep them) gives
// the same validators from this server and from nginx, and a download resumed on the
// other origin still matches its If-Range.
//
//   GET .../bundle.zip  Range: bytes=1000-  If-Range: "6790a1b2-4e21"
//     -> 206, Content-Range: bytes 1000-19996/19997, the rest of the archive
//     (a stale If-Range gets the whole file, 200; a start past the end gets 416)
// If-None-Match, else If-Modified-Since, give 304 when the copy is current. Only single
// ranges are served; a request for several gets the whole file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>

#include "toolkit/toolkit.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace qelvo::deploy {

// Bytes of an open file that follow an answer's head.
struct FileBody {
  UniqueFd file;
  off_t offset = 0;
  std::size_t length = 0;
};

// Sets the status and headers of the answer for `file` (not its body) and returns the
// body to send after the head: none for HEAD, 304 and 416. False when the file cannot
// be opened (it went away).
bool answerFile(const httplib::Request& request, httplib::Response& response,
                const std::filesystem::path& file, std::optional<FileBody>& body);

}  // namespace qelvo::deploy
