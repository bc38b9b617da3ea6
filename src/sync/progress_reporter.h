// The progress of one application's sync, reported to the host's handler: every phase
// change at once, counts at most every 100 ms. Safe from the sync's thread and the
// transfer engine's thread at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "qelvo/live_update_manager.h"

namespace qelvo {

class ProgressReporter {
 public:
  using Progress = LiveUpdateManager::SyncProgress;
  using Phase = Progress::Phase;

  ProgressReporter(std::shared_ptr<const LiveUpdateManager::ProgressHandler> handler,
                   std::string appId);

  // Starts a phase: counts restart from zero with the given expectations.
  void phase(Phase phase, std::optional<std::uint64_t> filesExpected = std::nullopt,
             std::optional<std::uint64_t> bytesExpected = std::nullopt);
  // The bytes of the phase so far, as one body's transfer reports them.
  void bytes(std::uint64_t done, std::optional<std::uint64_t> expected);
  // One more file of the phase is done, with its size.
  void fileDone(std::uint64_t size);

 private:
  void report(bool force);

  std::shared_ptr<const LiveUpdateManager::ProgressHandler> handler_;
  std::mutex mutex_;
  Progress progress_;
  std::chrono::steady_clock::time_point lastReport_{};
};

}  // namespace qelvo
