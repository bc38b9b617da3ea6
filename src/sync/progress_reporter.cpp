#include "sync/progress_reporter.h"

namespace qelvo {

namespace {
constexpr auto kInterval = std::chrono::milliseconds(100);
}

ProgressReporter::ProgressReporter(std::shared_ptr<const LiveUpdateManager::ProgressHandler> handler,
                                   std::string appId)
    : handler_(std::move(handler)) {
  progress_.appId = std::move(appId);
}

void ProgressReporter::phase(Phase phase, std::optional<std::uint64_t> filesExpected,
                             std::optional<std::uint64_t> bytesExpected) {
  std::unique_lock lock(mutex_);
  progress_.phase = phase;
  progress_.filesDone = 0;
  progress_.bytesDone = 0;
  progress_.filesExpected = filesExpected;
  progress_.bytesExpected = bytesExpected;
  report(true);
}

void ProgressReporter::bytes(std::uint64_t done, std::optional<std::uint64_t> expected) {
  std::unique_lock lock(mutex_);
  progress_.bytesDone = done;
  if (expected) progress_.bytesExpected = expected;
  report(expected && done == *expected);
}

void ProgressReporter::fileDone(std::uint64_t size) {
  std::unique_lock lock(mutex_);
  ++progress_.filesDone;
  progress_.bytesDone += size;
  report(progress_.filesExpected && progress_.filesDone == *progress_.filesExpected);
}

// Called with mutex_ held, so reports of one sync arrive in order and never overlap.
void ProgressReporter::report(bool force) {
  auto now = std::chrono::steady_clock::now();
  if (!force && now - lastReport_ < kInterval) return;
  lastReport_ = now;
  try {
    (*handler_)(progress_);
  } catch (...) {
    // A failing observer must not fail the sync.
  }
}

}  // namespace qelvo
