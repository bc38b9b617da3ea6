#include "client/resumable_body.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>

#include "base/file_modes.h"
#include "client/curl_handles.h"

namespace qelvo {
namespace {

// "bytes START-END/TOTAL": START.
std::optional<std::uint64_t> rangeStart(std::string_view value) {
  constexpr std::string_view unit = "bytes ";
  if (!value.starts_with(unit)) return std::nullopt;
  value.remove_prefix(unit.size());
  std::uint64_t start = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), start);
  if (error != std::errc() || end == value.data() + value.size() || *end != '-')
    return std::nullopt;
  return start;
}

// The URL and the validator a kept part was fetched with: two lines.
std::optional<std::pair<std::string, std::string>> readValidator(
    const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string url, validator;
  if (!std::getline(in, url) || !std::getline(in, validator) || validator.empty())
    return std::nullopt;
  return std::pair{url, validator};
}

}  // namespace

std::filesystem::path ResumableBody::validatorPath() const {
  return path_.string() + std::string(kResumeValidatorSuffix);
}

std::optional<ResumableBody> ResumableBody::open(const std::filesystem::path& path,
                                                 std::string url) {
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode));
  if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  ResumableBody body(path, std::move(url), std::move(fd), 0, "");
  auto stored = readValidator(body.validatorPath());
  // The last kept byte is asked for again: a part that was already whole (its process
  // killed before the move) would otherwise ask for a range past the end, which servers
  // refuse with 416. A range that starts inside the file is always satisfiable.
  if (stored && stored->first == body.url_ && status.st_size > 1) {
    body.kept_ = static_cast<std::uint64_t>(status.st_size) - 1;
    body.validator_ = std::move(stored->second);
  }
  return body;
}

std::vector<std::string> ResumableBody::requestHeaders() const {
  if (kept_ == 0 || validator_.empty()) return {};
  return {"Range: bytes=" + std::to_string(kept_) + "-", "If-Range: " + validator_};
}

std::expected<TemporaryFile, PlatformError> ResumableBody::start(long status, CURL* easy) {
  const auto fail = [&](int error, const std::string& what) {
    return std::unexpected(PlatformError::fromErrno(error, what + " " + path_.string()));
  };
  if (status == 206) {
    const auto range = curl::responseHeader(easy, "Content-Range");
    if (kept_ == 0 || !range || rangeStart(*range) != kept_) {
      return fail(EPROTO, "The server sent a range that does not continue");
    }
    if (::ftruncate(fd_.get(), static_cast<off_t>(kept_)) != 0)
      return fail(errno, "Unable to shorten");
    if (::lseek(fd_.get(), static_cast<off_t>(kept_), SEEK_SET) < 0)
      return fail(errno, "Unable to seek in");
    continued_ = true;
  } else {
    // The whole body: what was kept (if anything) belonged to another version.
    if (::ftruncate(fd_.get(), 0) != 0) return fail(errno, "Unable to empty");
    std::error_code ignored;
    std::filesystem::remove(validatorPath(), ignored);
    // A weak ETag cannot ask for a range; the modification time can.
    auto validator = curl::responseHeader(easy, "ETag");
    if (!validator || validator->empty() || validator->starts_with("W/")) {
      validator = curl::responseHeader(easy, "Last-Modified");
    }
    if (status == 200 && validator && !validator->empty()) {
      std::ofstream out(validatorPath(), std::ios::trunc);
      out << url_ << '\n' << *validator << '\n';
      if (!out.flush()) return fail(errno ? errno : EIO, "Unable to write the validator of");
    }
  }
  return TemporaryFile::keptAt(std::exchange(fd_, UniqueFd()).release(), path_);
}

void ResumableBody::finished(bool keep, bool completed) {
  std::error_code ignored;
  if (!keep || completed) std::filesystem::remove(validatorPath(), ignored);
  if (!keep) std::filesystem::remove(path_, ignored);
}

}  // namespace qelvo
