// SyncExecutor: the threads that run syncs and call the host's callbacks. At most
// `maxThreads` of them, started when work arrives and ended after a while without any;
// work beyond them waits in a queue. Every manager holds the process's executor, so its
// threads are joined when the last manager goes away: nothing the library starts
// outlives the managers.
//
//   auto executor = SyncExecutor::shared();
//   if (!executor->submit([] { runOneSync(); })) reportThatNothingCouldRun();
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

namespace qelvo {

class SyncExecutor {
 public:
  using Work = std::function<void()>;
  // Starts one thread running `body`; throws std::system_error when none can be started
  // (std::thread's own behaviour; tests pass one that always fails).
  using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

  struct Settings {
    std::size_t maxThreads = 8;
    // An idle thread ends after this long; a busy host keeps its threads.
    std::chrono::milliseconds idleTimeout{30'000};
    ThreadStarter startThread = [](std::function<void()> body) { return std::thread(std::move(body)); };
  };

  // The executor every manager of the process shares, made when the first one needs it.
  static std::shared_ptr<SyncExecutor> shared();

  explicit SyncExecutor(Settings settings);
  // Waits for the work already queued or running, then joins every thread. When the last
  // reference goes on one of the executor's own threads, that thread ends on its own.
  ~SyncExecutor();
  SyncExecutor(const SyncExecutor&) = delete;
  SyncExecutor& operator=(const SyncExecutor&) = delete;

  // Runs `work` on one of the threads, in the order submitted. False, with nothing
  // queued, when no thread runs and none can be started. `work` must not throw.
  [[nodiscard]] bool submit(Work work);

 private:
  struct State;

 public:
  // Submits to the executor without keeping it alive. What the host's callbacks carry
  // holds one of these, so that the host releasing its last manager after its last
  // callback is what destroys the executor, and its threads are joined there, never left
  // to end on their own while the process exits. Once the executor is being destroyed,
  // work is taken only while one of its threads can still run it.
  class Submitter {
   public:
    [[nodiscard]] bool submit(Work work) const;

   private:
    friend class SyncExecutor;
    explicit Submitter(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
  };
  Submitter submitter() const { return Submitter(state_); }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace qelvo
