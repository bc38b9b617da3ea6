// The public sync family: one application, a list, or all registered applications;
// future-returning or with callbacks. Every request for an application joins the sync
// that is already running for it, if any.
#include <atomic>

#include "base/logger.h"
#include "base/sync_errors.h"
#include "sync/sync_executor.h"
#include "sync/sync_task.h"
#include "platform/host.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/work_area.h"

namespace qelvo {
namespace {

using SyncResult = LiveUpdateManager::SyncResult;
using Converted = std::expected<SyncResult, SyncError>;

// How list forms report an outcome: a SyncError as it is, anything else wrapped.
Converted convertForList(const std::string& appId, const SyncTask::Outcome& outcome) {
  if (outcome) return *outcome;
  if (auto* syncError = outcome.error().get<SyncError>()) return std::unexpected(*syncError);
  return std::unexpected(metadataError(appId, SyncError::FailStep::check,
                                       "Unable to determine the error - " +
                                           outcome.error().localizedDescription()));
}

// Collects the outcomes of a list sync in order of completion.
struct ListCollector {
  std::mutex mutex;
  LiveUpdateManager::SyncResults results;
  std::atomic<std::size_t> remaining;

  explicit ListCollector(std::size_t count) : remaining(count) {}

  void add(Converted outcome) {
    std::lock_guard lock(mutex);
    if (outcome) {
      results.results.push_back(std::move(*outcome));
    } else {
      results.errors.push_back(std::move(outcome.error()));
    }
  }
  // True for the call that recorded the last outcome.
  bool finishOne() { return remaining.fetch_sub(1) == 1; }
};

std::vector<std::string> idsOf(const std::vector<LiveUpdate>& liveUpdates) {
  std::vector<std::string> ids;
  ids.reserve(liveUpdates.size());
  for (const auto& liveUpdate : liveUpdates) ids.push_back(liveUpdate.appId);
  return ids;
}

std::vector<std::string> keysOf(const std::unordered_map<std::string, LiveUpdate>& apps) {
  std::vector<std::string> ids;
  ids.reserve(apps.size());
  for (const auto& [appId, liveUpdate] : apps) ids.push_back(appId);
  return ids;
}

}  // namespace

std::shared_ptr<SyncTask> LiveUpdateManager::syncTask(const std::string& appId) {
  auto [task, created] =
      operationMap_.getOrInsert(appId, [] { return std::make_shared<SyncTask>(); });
  if (!created) return task;
  // The task holds its manager until it ends, so a released manager finishes its syncs.
  auto self = shared_from_this();
  auto unregister = [self, appId, task = task] { self->operationMap_.removeIf(appId, task); };
  bool started = task->start(
      *executor_,
      [self, appId](std::stop_token stop) -> SyncTask::Outcome {
        try {
          return self->runInWorkArea(self->makeContext(appId, std::move(stop)));
        } catch (const std::exception& e) {
          // A configuration problem met mid-sync (for example the host identity
          // removed) must not end the process.
          return std::unexpected(metadataError(appId, SyncError::FailStep::check, e.what()));
        }
      },
      unregister);
  if (!started) {
    // Nothing will run it: every caller that joined it so far gets this failure, and
    // the next request starts afresh.
    unregister();
    task->publish(std::unexpected(metadataError(
        appId, SyncError::FailStep::check, "No thread could be started to sync " + appId)));
  }
  return task;
}

// Holds neither a manager nor the executor: a callback never keeps them alive, so the host
// that lets the manager go after its last callback is the one that releases them (and
// joins the executor's threads).
struct LiveUpdateManager::CallbackDelivery {
  SyncExecutor::Submitter executor;
  std::shared_ptr<QelvoLogger> logger;
  std::string logTag;

  void log(const std::string& message) const { logger->log(logTag, message); }

  void operator()(std::function<void()> call, const std::string& what) const {
    auto safely = [logger = logger, tag = logTag, call = std::move(call), what] {
      try {
        call();
      } catch (const std::bad_function_call&) {
        logger->log(tag, "The " + what + " callback is empty; its call was skipped");
      } catch (const std::exception& e) {
        logger->log(tag, "The " + what + " callback threw: " + e.what());
      } catch (...) {
        logger->log(tag, "The " + what + " callback threw");
      }
    };
    // Each callback on its own, so that one caller's slow callback never holds up
    // another's; on the calling thread only when no thread can be had for it.
    if (!executor.submit(safely)) safely();
  }
};

LiveUpdateManager::CallbackDelivery LiveUpdateManager::callbackDelivery() const {
  return CallbackDelivery{executor_->submitter(), logger(), logTag_};
}

std::future<LiveUpdateManager::SyncResult> LiveUpdateManager::sync(const std::string& appId) {
  auto promise = std::make_shared<std::promise<SyncResult>>();
  auto future = promise->get_future();
  syncTask(appId)->onComplete([promise](const SyncTask::Outcome& outcome) {
    if (outcome) {
      promise->set_value(*outcome);
    } else {
      promise->set_exception(outcome.error().toExceptionPtr());
    }
  });
  return future;
}

void LiveUpdateManager::sync(const std::string& appId, AppComplete appComplete) {
  auto callback = std::make_shared<AppComplete>(std::move(appComplete));
  syncTask(appId)->onComplete(
      [deliver = callbackDelivery(), appId, callback](const SyncTask::Outcome& outcome) {
        deliver(
            [deliver, appId, callback, outcome] {
              if (outcome) return (*callback)(*outcome);
              if (auto* syncError = outcome.error().get<SyncError>()) {
                return (*callback)(std::unexpected(*syncError));
              }
              deliver.log(outcome.error().localizedDescription());
              (*callback)(std::unexpected(metadataError(appId, SyncError::FailStep::check,
                                                        "Unable to determine the error")));
            },
            "appComplete");
      });
}

std::future<LiveUpdateManager::SyncResults> LiveUpdateManager::sync(
    const std::vector<std::string>& appIds) {
  auto promise = std::make_shared<std::promise<SyncResults>>();
  auto future = promise->get_future();
  if (appIds.empty()) {
    promise->set_value({});
    return future;
  }
  auto collector = std::make_shared<ListCollector>(appIds.size());
  std::vector<std::shared_ptr<SyncTask>> tasks;
  for (const auto& appId : appIds) tasks.push_back(syncTask(appId));
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    tasks[i]->onComplete([collector, promise, appId = appIds[i]](const SyncTask::Outcome& outcome) {
      collector->add(convertForList(appId, outcome));
      if (collector->finishOne()) promise->set_value(std::move(collector->results));
    });
  }
  return future;
}

void LiveUpdateManager::sync(const std::vector<std::string>& appIds, SyncComplete syncComplete,
                             AppComplete appComplete) {
  auto callbacks = std::make_shared<std::pair<SyncComplete, AppComplete>>(std::move(syncComplete),
                                                                          std::move(appComplete));
  const auto deliver = callbackDelivery();
  if (appIds.empty()) {
    deliver([callbacks] { callbacks->first(); }, "syncComplete");
    return;
  }
  auto remaining = std::make_shared<std::atomic<std::size_t>>(appIds.size());
  // syncComplete comes after every appComplete has returned, from the last of them.
  auto finishOne = [deliver, remaining, callbacks] {
    if (remaining->fetch_sub(1) == 1) deliver([callbacks] { callbacks->first(); }, "syncComplete");
  };
  std::vector<std::shared_ptr<SyncTask>> tasks;
  for (const auto& appId : appIds) tasks.push_back(syncTask(appId));
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    tasks[i]->onComplete([deliver, callbacks, finishOne,
                          appId = appIds[i]](const SyncTask::Outcome& outcome) {
      deliver(
          [callbacks, finishOne, converted = convertForList(appId, outcome)] {
            try {
              callbacks->second(converted);
            } catch (...) {
              finishOne();
              throw;  // logged by deliver
            }
            finishOne();
          },
          "appComplete");
    });
  }
}

std::future<LiveUpdateManager::SyncResults> LiveUpdateManager::sync() {
  return sync(keysOf(instances_.contents()));
}

void LiveUpdateManager::sync(SyncComplete syncComplete, AppComplete appComplete) {
  sync(keysOf(instances_.contents()), std::move(syncComplete), std::move(appComplete));
}

std::future<LiveUpdateManager::SyncResult> LiveUpdateManager::sync(const LiveUpdate& liveUpdate) {
  return LiveUpdateManager::sync(liveUpdate.appId);
}

void LiveUpdateManager::sync(const LiveUpdate& liveUpdate, AppComplete appComplete) {
  LiveUpdateManager::sync(liveUpdate.appId, std::move(appComplete));
}

std::future<LiveUpdateManager::SyncResults> LiveUpdateManager::sync(
    const std::vector<LiveUpdate>& liveUpdates) {
  return LiveUpdateManager::sync(idsOf(liveUpdates));
}

void LiveUpdateManager::sync(const std::vector<LiveUpdate>& liveUpdates, bool /*isParallel*/,
                             SyncComplete syncComplete, AppComplete appComplete) {
  LiveUpdateManager::sync(idsOf(liveUpdates), std::move(syncComplete), std::move(appComplete));
}

void LiveUpdateManager::cancelSync(const std::string& appId) {
  if (auto task = operationMap_.get(appId)) (*task)->cancel();
}

}  // namespace qelvo
