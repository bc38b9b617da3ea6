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
  std::size_t serving = 0;  // threads inside serve(); each looks at the queue once more before leaving
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
          --state->serving;
          return;
        }
      }
      if (state->queue.empty()) {  // stopping, and nothing left to do
        --state->serving;
        return;
      }
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

  // Queues `work`, starting a thread for it when none is free. Once the executor is being
  // destroyed no thread starts: work is queued only while one of its threads still serves
  // (that thread runs it before it leaves), and refused otherwise.
  static bool submit(const std::shared_ptr<State>& state, Work work);

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

bool SyncExecutor::State::submit(const std::shared_ptr<State>& state, Work work) {
  std::vector<std::thread> ended;
  bool accepted = true;
  {
    std::lock_guard lock(state->mutex);
    ended = state->takeEnded();
    const bool someoneIsFree = state->idle > state->queue.size();
    if (state->stopping) {
      accepted = state->serving > 0;
    } else if (!someoneIsFree && state->running.size() < state->settings.maxThreads) {
      try {
        auto thread = state->settings.startThread([state] { State::serve(state); });
        auto id = thread.get_id();
        state->running.emplace(id, std::move(thread));
        ++state->serving;
      } catch (const std::system_error&) {
        // The threads that run can take it later; with none, nothing would.
        accepted = !state->running.empty();
      }
    }
    if (accepted) state->queue.push_back(std::move(work));
  }
  if (accepted) state->wake.notify_one();
  joinAll(ended);
  return accepted;
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

bool SyncExecutor::submit(Work work) { return State::submit(state_, std::move(work)); }

bool SyncExecutor::Submitter::submit(Work work) const {
  return State::submit(state_, std::move(work));
}

}  // namespace qelvo
