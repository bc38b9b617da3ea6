// SyncTask: one running sync of one application, on a worker thread of its own. Any
// number of requests can wait for it; each receives the same outcome.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

#include "qelvo/live_update_manager.h"

namespace qelvo {

class SyncTask : public std::enable_shared_from_this<SyncTask> {
 public:
  using Outcome = std::expected<LiveUpdateManager::SyncResult, Error>;
  using Continuation = std::function<void(const Outcome&)>;

  // Runs `body` on a new worker thread. `finish` runs on that thread after the body
  // and before the outcome is published (the joined sync unregisters the task there).
  void start(std::function<Outcome(std::stop_token)> body, std::function<void()> finish);

  // Calls `continuation` with the outcome on a worker thread: the task's own thread
  // when it is still running, a new one when it has already ended.
  void onComplete(Continuation continuation);

  // Blocks until the outcome is published.
  Outcome wait();

  // Asks the body to stop; it observes the request in its cancellable operations.
  void cancel() { stop_.request_stop(); }

 private:
  void publish(Outcome outcome);

  std::stop_source stop_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::optional<Outcome> outcome_;
  std::vector<Continuation> continuations_;
};

// Runs `work` on a new detached worker thread.
void runOnWorkerThread(std::function<void()> work);

}  // namespace qelvo
