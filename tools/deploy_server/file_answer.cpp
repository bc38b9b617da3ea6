#include "deploy_server/file_answer.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

#include "common/utc_time.h"
#include "deploy_server/bundle_files.h"

namespace qelvo::deploy {
namespace {

constexpr const char* kImmutable = "public, max-age=31536000, immutable";
constexpr const char* kHttpDate = "%a, %d %b %Y %H:%M:%S GMT";

struct Validators {
  std::string etag;
  std::string lastModified;
  std::time_t modified = 0;
};

Validators validatorsOf(const struct stat& status) {
  char etag[64];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx\"",
                static_cast<unsigned long long>(status.st_mtim.tv_sec),
                static_cast<unsigned long long>(status.st_size));
  auto modified = std::chrono::system_clock::from_time_t(status.st_mtim.tv_sec);
  return {etag, tools::formatUtc(modified, kHttpDate), status.st_mtim.tv_sec};
}

std::optional<std::time_t> parseHttpDate(const std::string& text) {
  std::tm parts{};
  const char* end = strptime(text.c_str(), kHttpDate, &parts);
  if (!end || *end != '\0') return std::nullopt;
  return timegm(&parts);
}

// If-None-Match: a list of entity tags or "*"; compared weakly, as caches revalidate.
bool matchesAny(const std::string& header, const std::string& etag) {
  if (header == "*") return true;
  std::string_view list = header;
  std::string_view strong = std::string_view(etag);
  while (!list.empty()) {
    auto comma = list.find(',');
    auto item = list.substr(0, comma);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.starts_with("W/")) item.remove_prefix(2);
    if (item == strong) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

bool notModified(const httplib::Request& request, const Validators& validators) {
  if (request.has_header("If-None-Match")) {
    return matchesAny(request.get_header_value("If-None-Match"), validators.etag);
  }
  if (!request.has_header("If-Modified-Since")) return false;
  auto since = parseHttpDate(request.get_header_value("If-Modified-Since"));
  return since && validators.modified <= *since;
}

// If-Range holds a strong entity tag or the exact Last-Modified date.
bool rangeStillApplies(const httplib::Request& request, const Validators& validators) {
  if (!request.has_header("If-Range")) return true;
  auto value = request.get_header_value("If-Range");
  return value == validators.etag || value == validators.lastModified;
}

struct ByteRange {
  std::size_t first = 0, last = 0;  // inclusive
};

// One "bytes=first-last", "bytes=first-" or "bytes=-suffix". Nothing (the whole file)
// for other forms and for several ranges; `unsatisfiable` when it starts past the end.
std::optional<ByteRange> parseRange(const std::string& header, std::size_t size,
                                    bool& unsatisfiable) {
  unsatisfiable = false;
  if (!header.starts_with("bytes=") || header.find(',') != std::string::npos) return std::nullopt;
  std::string spec = header.substr(6);
  auto dash = spec.find('-');
  if (dash == std::string::npos) return std::nullopt;
  auto number = [](const std::string& text) -> std::optional<std::size_t> {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != text.npos) {
      return std::nullopt;
    }
    return std::stoull(text);
  };
  auto first = number(spec.substr(0, dash));
  auto last = number(spec.substr(dash + 1));
  if (!first) {  // a suffix: the last N bytes
    if (!last) return std::nullopt;
    if (*last == 0 || size == 0) {
      unsatisfiable = true;
      return std::nullopt;
    }
    return ByteRange{size - std::min(*last, size), size - 1};
  }
  if (dash + 1 < spec.size() && !last) return std::nullopt;
  if (last && *last < *first) return std::nullopt;
  if (*first >= size) {
    unsatisfiable = true;
    return std::nullopt;
  }
  return ByteRange{*first, std::min(last.value_or(size - 1), size - 1)};
}

}  // namespace

bool answerFile(const httplib::Request& request, httplib::Response& response,
                const std::filesystem::path& file, std::optional<FileBody>& body) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0) return false;
  // A 32-bit server cannot hold larger sizes and ranges in size_t: it serves such a file
  // as one it cannot open rather than wrong bytes.
  if (!std::in_range<std::size_t>(status.st_size)) {
    return false;
  }
  const auto size = static_cast<std::size_t>(status.st_size);
  const auto validators = validatorsOf(status);
  response.set_header("ETag", validators.etag);
  response.set_header("Last-Modified", validators.lastModified);
  response.set_header("Cache-Control", kImmutable);
  response.set_header("Accept-Ranges", "bytes");
  if (notModified(request, validators)) {
    response.status = 304;  // no Content-Length (request_processor.cpp drops httplib's 0)
    return true;
  }
  response.set_header("Content-Type", contentTypeOf(file));
  ByteRange range{0, size == 0 ? 0 : size - 1};
  response.status = 200;
  bool unsatisfiable = false;
  if (request.method == "GET" && request.has_header("Range") &&
      rangeStillApplies(request, validators)) {
    if (auto asked = parseRange(request.get_header_value("Range"), size, unsatisfiable)) {
      range = *asked;
      response.status = 206;
      response.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                               std::to_string(range.last) + "/" +
                                               std::to_string(size));
    }
  }
  if (unsatisfiable) {
    response.status = 416;
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    response.set_header("Content-Length", "0");
    return true;
  }
  const std::size_t length = size == 0 ? 0 : range.last - range.first + 1;
  response.set_header("Content-Length", std::to_string(length));
  if (request.method == "GET" && length > 0) {
    body = FileBody{std::move(fd), static_cast<off_t>(range.first), length};
  }
  return true;
}

}  // namespace qelvo::deploy
