// One transfer of the engine: its request, where its body goes, and the libcurl easy
// handle that carries it while it runs. Used only on the engine's thread, except
// `cancelRequested` and the stop callback.
#pragma once

#include <curl/curl.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "client/curl_handles.h"
#include "client/resumable_body.h"
#include "client/transfer_engine.h"

namespace qelvo {

class Transfer {
 public:
  enum class State { queued, pending, active, finished };

  Transfer(HttpRequest request, BodyTarget target, TransferEngine::Completion completion)
      : request_(std::move(request)),
        target_(std::move(target)),
        completion_(std::move(completion)) {}

  // Sets up `easy` (fresh or reset) for this transfer and keeps it.
  [[nodiscard]] std::expected<void, TransferError> attach(curl::EasyHandle easy,
                                                          const TransferEngineSettings& settings);
  CURL* easy() const { return easy_.get(); }
  // Gives the easy handle back, reset, for another transfer.
  curl::EasyHandle detach();

  // The outcome once libcurl has ended the transfer with `result`.
  TransferEngine::Outcome conclude(CURLcode result);

  // Runs the completion once; drops the stop callback first, so that a stop requested
  // from inside the completion does not reach this transfer.
  void finish(TransferEngine::Outcome outcome);

  State state = State::queued;
  std::atomic<bool> cancelRequested{false};
  std::optional<std::stop_callback<std::function<void()>>> stopCallback;

 private:
  static size_t receive(char* data, size_t size, size_t count, void* self) noexcept;
  std::expected<TemporaryFile, PlatformError> createFile(const FileBody& body);
  void reserveDeclaredLength(std::uint64_t cap);
  // Bytes of the body that an earlier attempt kept, which this one continues.
  std::uint64_t resumedBytes() const { return resumable_ ? resumable_->offset() : 0; }
  bool store(std::string_view bytes) noexcept;
  // Records the failure and answers true when `bytes` more would pass `cap`.
  bool exceedsCap(std::size_t bytes, std::uint64_t cap) noexcept;
  void reportProgress(std::size_t bytes) noexcept;

  HttpRequest request_;
  BodyTarget target_;
  TransferEngine::Completion completion_;
  curl::EasyHandle easy_;
  curl::Slist headers_;
  std::string body_;
  std::optional<TemporaryFile> file_;
  std::optional<ResumableBody> resumable_;  // when the request names a resume file
  std::uint64_t received_ = 0;
  std::optional<Error> storeError_;  // why the body could not be kept
  std::array<char, CURL_ERROR_SIZE> errorText_{};
};

}  // namespace qelvo
