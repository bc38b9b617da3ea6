#include "client/transfer.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string_view>

#include "base/overloaded.h"
#include "client/retry_after.h"

namespace qelvo {
namespace {

// Collects the first failure of a series of curl_easy_setopt calls.
class Options {
 public:
  explicit Options(CURL* easy) : easy_(easy) {}

  template <class Value>
  Options& set(CURLoption option, Value value) {
    if (result_ == CURLE_OK) result_ = curl_easy_setopt(easy_, option, value);
    return *this;
  }
  CURLcode result() const { return result_; }

 private:
  CURL* easy_;
  CURLcode result_ = CURLE_OK;
};

// From the URL's text: asking for its parts would cost a parse on every transfer.
bool isHttps(const Url& url) {
  constexpr std::string_view scheme = "https:";
  const auto& text = url.text();
  return text.size() >= scheme.size() &&
         std::equal(scheme.begin(), scheme.end(), text.begin(), [](char expected, char actual) {
           return expected == std::tolower(static_cast<unsigned char>(actual));
         });
}

constexpr const char* kHttpsOnly =
    "a deploy service reached over https hands out https URLs only";
constexpr const char* kPastDeadline = "The sync went past its maximum duration";
// libcurl's own clock may end a transfer a moment before ours reaches the deadline.
constexpr auto kDeadlineSlack = std::chrono::milliseconds(100);

// Only a transfer whose connection broke keeps its part for the next attempt. A stop, a
// body over its cap or one that could not be stored, a refusal, and a server too slow
// for the pace or the sync's maximum duration (the service's fault) leave nothing.
bool isBrokenConnection(CURLcode code) {
  switch (code) {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

TransferError setupError(CURLcode code) {
  return TransferError(code,
                       std::string("Unable to set up the transfer: ") + curl_easy_strerror(code));
}

}  // namespace

std::expected<void, TransferError> Transfer::attach(curl::EasyHandle easy,
                                                    const TransferEngineSettings& settings) {
  easy_ = std::move(easy);
  for (const auto& [name, value] : request_.headers) {
    if (!curl::appendHeader(headers_, name + ": " + value))
      return std::unexpected(setupError(CURLE_OUT_OF_MEMORY));
  }
  // libcurl would otherwise announce larger bodies with "Expect: 100-continue" and
  // wait a round trip before sending them.
  if (!curl::appendHeader(headers_, "Expect:"))
    return std::unexpected(setupError(CURLE_OUT_OF_MEMORY));
  if (request_.resumeFile && std::holds_alternative<FileBody>(target_)) {
    resumable_ = ResumableBody::open(*request_.resumeFile, request_.url.text());
    for (const auto& line :
         resumable_ ? resumable_->requestHeaders() : std::vector<std::string>{}) {
      if (!curl::appendHeader(headers_, line))
        return std::unexpected(setupError(CURLE_OUT_OF_MEMORY));
    }
  }

  if (request_.httpsOnly && !isHttps(request_.url)) {
    return std::unexpected(TransferError(CURLE_UNSUPPORTED_PROTOCOL, "Refused " + request_.url.text() +
                                                                       ": " + kHttpsOnly));
  }
  // Both limits count whole seconds; zero would mean "no limit" to libcurl.
  long idleSeconds = std::max<long>(1, static_cast<long>(request_.idleTimeout.count()));
  long minRate = static_cast<long>(
      std::clamp<std::uint64_t>(request_.minBytesPerSecond, 1, std::numeric_limits<long>::max()));
  const char* protocols = request_.httpsOnly ? "https" : "http,https";
  Options options(easy_.get());
  options.set(CURLOPT_URL, request_.url.text().c_str())
      .set(CURLOPT_PRIVATE, static_cast<void*>(this))
      .set(CURLOPT_ERRORBUFFER, errorText_.data())
      .set(CURLOPT_WRITEFUNCTION, &Transfer::receive)
      .set(CURLOPT_WRITEDATA, static_cast<void*>(this))
      .set(CURLOPT_NOSIGNAL, 1L)
      .set(CURLOPT_PROTOCOLS_STR, protocols)
      .set(CURLOPT_REDIR_PROTOCOLS_STR, protocols)
      .set(CURLOPT_FOLLOWLOCATION, 1L)
      .set(CURLOPT_MAXREDIRS, settings.maxRedirects)
      // A pace, not a total time: a large body on a slow link must finish.
      .set(CURLOPT_CONNECTTIMEOUT, idleSeconds)
      .set(CURLOPT_LOW_SPEED_LIMIT, minRate)
      .set(CURLOPT_LOW_SPEED_TIME, idleSeconds)
      .set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS))
      .set(CURLOPT_SSL_VERIFYPEER, 1L)
      .set(CURLOPT_SSL_VERIFYHOST, 2L)
      .set(CURLOPT_HTTPHEADER, headers_.get());
  // A range counts bytes of the body as stored: a resumable body is asked for as it is.
  if (!resumable_) options.set(CURLOPT_ACCEPT_ENCODING, "");
  if (settings.caFile) options.set(CURLOPT_CAINFO, settings.caFile->c_str());
  if (request_.deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *request_.deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return std::unexpected(TransferError(CURLE_OPERATION_TIMEDOUT, kPastDeadline));
    }
    options.set(CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
  }
  // A declared length beyond the cap is refused before the first byte of the body.
  if (request_.maxBodyBytes) {
    constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max());
    options.set(CURLOPT_MAXFILESIZE_LARGE,
                static_cast<curl_off_t>(std::min(*request_.maxBodyBytes, kLargest)));
  }
  // Over TLS, a new transfer waits for a connection being set up to the same host: if
  // ALPN agrees on HTTP/2 it becomes one more stream there instead of another
  // connection. Plain HTTP stays HTTP/1.1, where that wait would last until the first
  // response arrives.
  if (isHttps(request_.url)) options.set(CURLOPT_PIPEWAIT, 1L);

  const std::string& method = request_.method;
  if (method == "GET") {
    options.set(CURLOPT_HTTPGET, 1L);
  } else if (method == "HEAD") {
    options.set(CURLOPT_NOBODY, 1L);
  } else {
    if (method == "POST") {
      options.set(CURLOPT_POST, 1L);
    } else {
      options.set(CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    if (method == "POST" || !request_.body.empty()) {
      options.set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body.size()))
          .set(CURLOPT_POSTFIELDS, request_.body.data());
    }
  }
  if (options.result() != CURLE_OK) return std::unexpected(setupError(options.result()));
  return {};
}

curl::EasyHandle Transfer::detach() {
  if (easy_) curl_easy_reset(easy_.get());
  headers_.reset();
  return std::move(easy_);
}

size_t Transfer::receive(char* data, size_t size, size_t count, void* self) noexcept {
  size_t bytes = size * count;
  auto* transfer = static_cast<Transfer*>(self);
  if (!transfer->store(std::string_view(data, bytes))) return 0;
  transfer->reportProgress(bytes);
  return bytes;
}

void Transfer::reportProgress(std::size_t bytes) noexcept {
  received_ += bytes;
  if (!request_.onBodyProgress) return;
  curl_off_t length = -1;
  curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  const auto resumed = resumedBytes();
  try {
    request_.onBodyProgress(
        received_ + resumed,
        length >= 0 ? std::optional<std::uint64_t>(length + resumed) : std::nullopt);
  } catch (...) {
    // Progress is advisory; a failing observer must not fail the transfer.
  }
}

bool Transfer::exceedsCap(std::size_t bytes, std::uint64_t cap) noexcept {
  if (resumedBytes() + received_ + bytes <= cap) return false;
  storeError_ = TransferError(CURLE_FILESIZE_EXCEEDED,
                              "The response body is larger than " + std::to_string(cap) + " bytes");
  return true;
}

void Transfer::reserveDeclaredLength(std::uint64_t cap) {
  // Room for the whole body at once, rather than doubling as it arrives (a manifest of
  // ten thousand files would take twice its size for a moment). Never past the cap.
  curl_off_t length = -1;
  curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (request_.maxBodyBytes) cap = std::min(cap, *request_.maxBodyBytes);
  if (length > 0) body_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(length, cap)));
}

std::expected<TemporaryFile, PlatformError> Transfer::createFile(const FileBody& body) {
  if (!resumable_) return body.createFile();
  long status = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
  return resumable_->start(status, easy_.get());
}

bool Transfer::store(std::string_view bytes) noexcept {
  try {
    // A resumed body knows what it continues only at its first byte.
    if (const auto* fileBody = std::get_if<FileBody>(&target_); fileBody && !file_) {
      auto created = createFile(*fileBody);
      if (!created) {
        storeError_ = created.error();
        return false;
      }
      file_ = std::move(*created);
    }
    if (request_.maxBodyBytes && exceedsCap(bytes.size(), *request_.maxBodyBytes)) return false;
    return std::visit(Overloaded{[&](const MemoryBody& memory) {
                                   if (exceedsCap(bytes.size(), memory.maxBytes)) return false;
                                   if (body_.empty()) reserveDeclaredLength(memory.maxBytes);
                                   body_.append(bytes);
                                   return true;
                                 },
                                 [&](const FileBody&) {
                                   if (auto written = file_->write(bytes); !written) {
                                     storeError_ = written.error();
                                     return false;
                                   }
                                   return true;
                                 }},
                      target_);
  } catch (const std::exception& error) {
    storeError_ = PlatformError("QelvoLiveUpdates.TransferEngine", 0,
                                std::string("Unable to keep the response body: ") + error.what());
    return false;
  }
}

TransferEngine::Outcome Transfer::conclude(CURLcode result) {
  if (storeError_) return std::unexpected(std::move(*storeError_));
  if (result == CURLE_FILESIZE_EXCEEDED && request_.maxBodyBytes) {
    return std::unexpected(TransferError(result, "The response body is larger than " +
                                                     std::to_string(*request_.maxBodyBytes) +
                                                     " bytes"));
  }
  if (result != CURLE_OK) {
    std::string message = errorText_[0] ? errorText_.data() : curl_easy_strerror(result);
    if (result == CURLE_UNSUPPORTED_PROTOCOL && request_.httpsOnly) {
      message = "Refused a redirect to a URL that is not https (" + message + "): " + kHttpsOnly;
    } else if (result == CURLE_OPERATION_TIMEDOUT && request_.deadline &&
               std::chrono::steady_clock::now() + kDeadlineSlack >= *request_.deadline) {
      message = std::string(kPastDeadline) + " (" + message + ")";
    }
    return std::unexpected(TransferError(result, std::move(message)));
  }
  long status = 0;
  char* effectiveUrl = nullptr;
  curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &effectiveUrl);
  Url finalUrl = request_.url;
  // Parsed only when a redirect changed it: most transfers end where they started.
  if (effectiveUrl && request_.url.text() != effectiveUrl) {
    finalUrl = Url::parse(effectiveUrl).value_or(request_.url);
  }

  if (const auto* fileBody = std::get_if<FileBody>(&target_)) {
    // An empty body still gets its (empty) file.
    if (!file_) {
      auto created = createFile(*fileBody);
      if (!created) return std::unexpected(created.error());
      file_ = std::move(*created);
    }
    if (auto closed = file_->close(); !closed) return std::unexpected(closed.error());
  }
  return TransferResponse{status, std::move(finalUrl), std::move(body_), std::move(file_),
                          retryAfterOf(easy_.get())};
}

void Transfer::finish(TransferEngine::Outcome outcome) {
  state = State::finished;
  stopCallback.reset();
  file_.reset();  // a failed or stopped download leaves no file behind (but a kept part)
  if (resumable_) {
    const auto* transfer = outcome ? nullptr : outcome.error().get<TransferError>();
    resumable_->finished(
        outcome.has_value() ||
            (transfer && isBrokenConnection(static_cast<CURLcode>(transfer->curlCode))),
        outcome.has_value());
    resumable_.reset();
  }
  auto completion = std::move(completion_);
  if (!completion) return;
  try {
    completion(std::move(outcome));
  } catch (...) {
    // The engine serves every transfer of the process: a throwing completion must not
    // stop it. Completions of the library report failures as values.
  }
}

}  // namespace qelvo
