// SyncTask: one running sync of one application, on a thread of the sync executor. Any
// number of requests can wait for it; each receives the same outcome.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

#include "qelvo/live_update_manager.h"

namespace qelvo {

class SyncExecutor;

class SyncTask : public std::enable_shared_from_this<SyncTask> {
 public:
  using Outcome = std::expected<LiveUpdateManager::SyncResult, Error>;
  using Continuation = std::function<void(const Outcome&)>;

  // Runs `body` on one of the executor's threads, then `finish` (the joined sync
  // unregisters the task there), then publishes the outcome. False when the executor
  // could not take it: nothing runs then, and the caller publishes a failure.
  [[nodiscard]] bool start(SyncExecutor& executor, std::function<Outcome(std::stop_token)> body,
                           std::function<void()> finish);

  // Calls `continuation` with the outcome: on the thread that publishes it, or at once
  // on the calling thread when it is already published. Continuations must be quick;
  // host callbacks are handed on to the executor from them.
  void onComplete(Continuation continuation);

  // Ends the task with `outcome`; continuations registered so far run now.
  void publish(Outcome outcome);

  // Asks the body to stop; it observes the request in its cancellable operations.
  void cancel() { stop_.request_stop(); }

 private:
  std::stop_source stop_;
  std::mutex mutex_;
  std::optional<Outcome> outcome_;
  std::vector<Continuation> continuations_;
};

}  // namespace qelvo
