#include "sync/sync_executor.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

namespace qelvo {

// Shared by the executor and its threads, so that a thread finishing its last piece of
// work after the executor is gone (it was the one that released it) still finds it.
struct SyncExecutor::State {
  explicit State(Settings s) : settings(std::move(s)) {}

  const Settings settings;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Work> queue;
  std::map<std::thread::id, std::thread> running;
  std::vector<std::thread> ended;  // threads that left for idleness, not yet joined
  std::size_t idle = 0;
  bool stopping = false;

  // The body of each thread: work until stopped with nothing left, or idle too long.
  static void serve(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
      if (state->queue.empty() && !state->stopping) {
        ++state->idle;
        bool woken = state->wake.wait_for(lock, state->settings.idleTimeout, [&] {
          return !state->queue.empty() || state->stopping;
        });
        --state->idle;
        if (!woken) {
          state->retire(std::this_thread::get_id());
          return;
        }
      }
      if (state->queue.empty()) return;  // stopping, and nothing left to do
      Work work = std::move(state->queue.front());
      state->queue.pop_front();
      lock.unlock();
      work();
      work = nullptr;  // what it held (a manager, say) goes here, off the lock
      lock.lock();
    }
  }

  // Called by an idle thread as it leaves: its handle waits to be joined.
  void retire(std::thread::id id) {
    auto found = running.find(id);
    if (found == running.end()) return;  // the executor is being destroyed and holds it
    ended.push_back(std::move(found->second));
    running.erase(found);
  }

  std::vector<std::thread> takeEnded() {
    std::vector<std::thread> threads;
    threads.swap(ended);
    return threads;
  }
};

namespace {

void joinAll(std::vector<std::thread>& threads) {
  for (auto& thread : threads) {
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();  // this thread releases the executor from its own work; it ends next
    } else if (thread.joinable()) {
      thread.join();
    }
  }
}

}  // namespace

std::shared_ptr<SyncExecutor> SyncExecutor::shared() {
  // Only a weak reference is kept here: the managers own the executor.
  static std::mutex mutex;
  static std::weak_ptr<SyncExecutor> current;
  std::lock_guard lock(mutex);
  auto executor = current.lock();
  if (!executor) {
    executor = std::make_shared<SyncExecutor>(Settings{});
    current = executor;
  }
  return executor;
}

SyncExecutor::SyncExecutor(Settings settings)
    : state_(std::make_shared<State>(std::move(settings))) {}

SyncExecutor::~SyncExecutor() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    threads = state_->takeEnded();
    for (auto& [id, thread] : state_->running) threads.push_back(std::move(thread));
    state_->running.clear();
  }
  state_->wake.notify_all();
  joinAll(threads);
}

bool SyncExecutor::submit(Work work) {
  std::vector<std::thread> ended;
  bool accepted = true;
  {
    std::lock_guard lock(state_->mutex);
    ended = state_->takeEnded();
    const bool someoneIsFree = state_->idle > state_->queue.size();
    if (!someoneIsFree && state_->running.size() < state_->settings.maxThreads) {
      try {
        auto thread = state_->settings.startThread([state = state_] { State::serve(state); });
        auto id = thread.get_id();
        state_->running.emplace(id, std::move(thread));
      } catch (const std::system_error&) {
        // The threads that run can take it later; with none, nothing would.
        accepted = !state_->running.empty();
      }
    }
    if (accepted) state_->queue.push_back(std::move(work));
  }
  if (accepted) state_->wake.notify_one();
  joinAll(ended);
  return accepted;
}

}  // namespace qelvo
