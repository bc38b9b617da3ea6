#include "client/resumable_body.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>

#include "base/file_modes.h"

namespace qelvo {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

bool namedHeader(std::string_view line, std::string_view name, std::string_view& value) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) return false;
  }
  value = trimmed(line.substr(name.size() + 1));
  return true;
}

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
  if (stored && stored->first == body.url_ && status.st_size > 0) {
    body.kept_ = static_cast<std::uint64_t>(status.st_size);
    body.validator_ = std::move(stored->second);
  }
  return body;
}

std::vector<std::string> ResumableBody::requestHeaders() const {
  if (kept_ == 0 || validator_.empty()) return {};
  return {"Range: bytes=" + std::to_string(kept_) + "-", "If-Range: " + validator_};
}

void ResumableBody::header(std::string_view line) {
  if (line.starts_with("HTTP/")) {
    etag_.clear();
    lastModified_.clear();
    rangeStart_.reset();
    return;
  }
  std::string_view value;
  if (namedHeader(line, "etag", value)) {
    etag_ = value;
  } else if (namedHeader(line, "last-modified", value)) {
    lastModified_ = value;
  } else if (namedHeader(line, "content-range", value)) {
    rangeStart_ = rangeStart(value);
  }
}

std::expected<TemporaryFile, PlatformError> ResumableBody::start(long status) {
  const auto fail = [&](int error, const std::string& what) {
    return std::unexpected(PlatformError::fromErrno(error, what + " " + path_.string()));
  };
  if (status == 206) {
    if (kept_ == 0 || rangeStart_ != kept_) {
      return fail(EPROTO, "The server sent a range that does not continue");
    }
    if (::lseek(fd_.get(), static_cast<off_t>(kept_), SEEK_SET) < 0)
      return fail(errno, "Unable to seek in");
    continued_ = true;
  } else {
    // The whole body: what was kept (if anything) belonged to another version.
    if (::ftruncate(fd_.get(), 0) != 0) return fail(errno, "Unable to empty");
    std::error_code ignored;
    std::filesystem::remove(validatorPath(), ignored);
    // A weak ETag cannot ask for a range; the modification time can.
    const std::string& validator =
        !etag_.empty() && !etag_.starts_with("W/") ? etag_ : lastModified_;
    if (status == 200 && !validator.empty()) {
      std::ofstream out(validatorPath(), std::ios::trunc);
      out << url_ << '\n' << validator << '\n';
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
