// The body of a download that can be resumed: what arrived before an interruption (a
// cut connection, a killed process) is kept in a file the caller names, with the URL and
// the server's validator beside it ("<file>.validator"). The next transfer of the same
// URL asks for the rest only ("Range" from the last kept byte, "If-Range" with the
// validator); a server whose file changed since answers with the whole body, and the
// kept part is dropped. Used on the transfer engine's thread only.
//
//   auto body = ResumableBody::open(partial, url);    // none while another transfer has it
//   for (auto& line : body->requestHeaders()) ...      // before the transfer starts
//   auto file = body->start(status, easy);             // at the first byte (or the end)
//   body->finished(kept, completed);                   // keep for next time, or drop
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_fd.h"
#include "client/temporary_file.h"
#include "qelvo/errors.h"

namespace qelvo {

// What the file beside a kept part is named: the part's name followed by this. It holds
// the URL and the validator the part was fetched with, on two lines.
inline constexpr std::string_view kResumeValidatorSuffix = ".validator";

class ResumableBody {
 public:
  // Opens (creating it and its directory) and locks the file at `path` for a transfer of
  // `url`. None when it cannot be opened or another transfer holds it: that transfer is
  // not resumable.
  static std::optional<ResumableBody> open(const std::filesystem::path& path, std::string url);

  // "Range" and "If-Range" when a part is kept for this URL with a validator; else none.
  std::vector<std::string> requestHeaders() const;

  // The file the body goes to, once the response's `status` is known (its headers are
  // those `easy` received last): the kept part less its last byte, positioned at its end,
  // for a 206 that continues it; else emptied, with the new response's validator written
  // beside it when it is a 200 that has one. Fails on a 206 that does not continue the
  // kept part.
  std::expected<TemporaryFile, PlatformError> start(long status, CURL* easy);

  // Bytes kept from before that the body continues (0 unless `start` continued it).
  std::uint64_t offset() const { return continued_ ? kept_ : 0; }

  // The transfer has ended: `keep` leaves the part (with its validator) for the next
  // attempt; otherwise both go. A completed body is no longer a part: its validator goes
  // (the file itself is the caller's to move).
  void finished(bool keep, bool completed);

 private:
  ResumableBody(std::filesystem::path path, std::string url, UniqueFd fd, std::uint64_t kept,
                std::string validator)
      : path_(std::move(path)),
        url_(std::move(url)),
        fd_(std::move(fd)),
        kept_(kept),
        validator_(std::move(validator)) {}

  std::filesystem::path validatorPath() const;

  std::filesystem::path path_;
  std::string url_;
  UniqueFd fd_;  // locked while this transfer runs; handed to the body's file
  std::uint64_t kept_ = 0;
  std::string validator_;  // of the kept part
  bool continued_ = false;
};

}  // namespace qelvo
