#include "client/transfer_engine.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <future>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "client/curl_handles.h"
#include "client/transfer.h"

namespace qelvo {
namespace {

// How long the loop waits when libcurl has no timer due and nobody wakes it; only an
// upper bound, the loop never sleeps for a fixed time.
constexpr int kPollMilliseconds = 1000;

}  // namespace

class TransferEngine::Core {
 public:
  explicit Core(TransferEngineSettings settings);

  // Any thread. False when the engine is shutting down.
  bool enqueue(std::shared_ptr<Transfer> transfer);
  void requestCancel(std::shared_ptr<Transfer> transfer);
  void requestShutdown();

  // The engine's thread.
  void run();

  // Transfers submitted to this thread and not yet ended; any thread.
  std::size_t load() const { return load_.load(std::memory_order_relaxed); }
  void addLoad() { load_.fetch_add(1, std::memory_order_relaxed); }
  void removeLoad() { load_.fetch_sub(1, std::memory_order_relaxed); }

 private:
  void wake() { curl_multi_wakeup(multi_.get()); }
  // Moves submitted transfers into the queue and acts on cancellations; true once
  // shutdown has been requested.
  bool takeCommands();
  void startPending();
  // Ends the transfers that libcurl has finished; how many.
  std::size_t finishCompleted();
  void cancel(Transfer& transfer);
  void cancelAll();
  std::shared_ptr<Transfer> takeActive(Transfer* transfer);

  TransferEngineSettings settings_;
  curl::MultiHandle multi_;
  std::atomic<std::size_t> load_{0};

  std::mutex mutex_;  // guards the three fields below
  std::vector<std::shared_ptr<Transfer>> submitted_;
  std::vector<std::shared_ptr<Transfer>> cancelled_;
  bool shuttingDown_ = false;

  // The engine's thread only.
  std::deque<std::shared_ptr<Transfer>> pending_;
  std::unordered_map<Transfer*, std::shared_ptr<Transfer>> active_;
  std::vector<curl::EasyHandle> idleHandles_;
};

TransferEngine::Core::Core(TransferEngineSettings settings) : settings_(std::move(settings)) {
  curl::ensureGlobalInit();
  settings_.maxConnectionsPerHost = std::max<std::size_t>(1, settings_.maxConnectionsPerHost);
  settings_.maxConnections = std::max(settings_.maxConnections, settings_.maxConnectionsPerHost);
  settings_.maxActiveTransfers = std::max<std::size_t>(1, settings_.maxActiveTransfers);
  multi_.reset(curl_multi_init());
  if (!multi_) throw std::bad_alloc();
  CURLM* multi = multi_.get();
  curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                    static_cast<long>(settings_.maxConnectionsPerHost));
  curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS,
                    static_cast<long>(settings_.maxConnections));
  curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(settings_.maxConnections));
}

bool TransferEngine::Core::enqueue(std::shared_ptr<Transfer> transfer) {
  bool wasEmpty = false;
  {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return false;
    wasEmpty = submitted_.empty();
    submitted_.push_back(std::move(transfer));
  }
  // The loop takes every submitted transfer at once: one wake-up per batch is enough,
  // where one per transfer would cost thousands of system calls on both threads.
  if (wasEmpty) wake();
  return true;
}

void TransferEngine::Core::requestCancel(std::shared_ptr<Transfer> transfer) {
  transfer->cancelRequested = true;
  {
    std::lock_guard lock(mutex_);
    cancelled_.push_back(std::move(transfer));
  }
  wake();
}

void TransferEngine::Core::requestShutdown() {
  {
    std::lock_guard lock(mutex_);
    shuttingDown_ = true;
  }
  wake();
}

void TransferEngine::Core::run() {
  while (!takeCommands()) {
    startPending();
    int running = 0;
    curl_multi_perform(multi_.get(), &running);
    // Finished transfers free slots: refill them before waiting.
    if (finishCompleted() > 0) continue;
    curl_multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr);
  }
  cancelAll();
}

bool TransferEngine::Core::takeCommands() {
  std::vector<std::shared_ptr<Transfer>> submitted;
  std::vector<std::shared_ptr<Transfer>> cancelled;
  bool shuttingDown = false;
  {
    std::lock_guard lock(mutex_);
    submitted.swap(submitted_);
    cancelled.swap(cancelled_);
    shuttingDown = shuttingDown_;
  }
  // Completions run below, outside the lock: they may submit or cancel transfers.
  for (auto& transfer : submitted) {
    transfer->state = Transfer::State::pending;
    if (transfer->cancelRequested) {
      transfer->finish(std::unexpected(CancellationError()));
    } else {
      pending_.push_back(std::move(transfer));
    }
  }
  // A cancellation may arrive before its transfer was taken in (it is then ended
  // above, through its flag) or after it ended (nothing left to do).
  for (auto& transfer : cancelled) cancel(*transfer);
  return shuttingDown;
}

void TransferEngine::Core::cancel(Transfer& transfer) {
  switch (transfer.state) {
    case Transfer::State::pending:
      // Left in the queue and skipped there: removing it from the middle of a long
      // queue would cost more than skipping.
      transfer.finish(std::unexpected(CancellationError()));
      break;
    case Transfer::State::active: {
      auto owned = takeActive(&transfer);
      curl_multi_remove_handle(multi_.get(), transfer.easy());
      idleHandles_.push_back(transfer.detach());
      transfer.finish(std::unexpected(CancellationError()));
      break;
    }
    case Transfer::State::queued:
    case Transfer::State::finished:
      break;
  }
}

void TransferEngine::Core::startPending() {
  while (active_.size() < settings_.maxActiveTransfers && !pending_.empty()) {
    auto transfer = std::move(pending_.front());
    pending_.pop_front();
    if (transfer->state == Transfer::State::finished) continue;

    curl::EasyHandle easy;
    if (!idleHandles_.empty()) {
      easy = std::move(idleHandles_.back());
      idleHandles_.pop_back();
    } else {
      easy.reset(curl_easy_init());
    }
    if (!easy) {
      transfer->finish(std::unexpected(
          TransferError(CURLE_OUT_OF_MEMORY, "Unable to set up the transfer: out of memory")));
      continue;
    }
    if (auto attached = transfer->attach(std::move(easy), settings_); !attached) {
      idleHandles_.push_back(transfer->detach());
      transfer->finish(std::unexpected(attached.error()));
      continue;
    }
    if (CURLMcode added = curl_multi_add_handle(multi_.get(), transfer->easy());
        added != CURLM_OK) {
      idleHandles_.push_back(transfer->detach());
      transfer->finish(std::unexpected(TransferError(
          CURLE_FAILED_INIT,
          std::string("Unable to start the transfer: ") + curl_multi_strerror(added))));
      continue;
    }
    transfer->state = Transfer::State::active;
    active_.emplace(transfer.get(), std::move(transfer));
  }
}

std::size_t TransferEngine::Core::finishCompleted() {
  std::size_t finished = 0;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    // The message does not outlive the removal of its handle.
    CURL* easy = message->easy_handle;
    CURLcode result = message->data.result;
    void* privateData = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &privateData);
    auto transfer = takeActive(static_cast<Transfer*>(privateData));
    curl_multi_remove_handle(multi_.get(), easy);
    if (!transfer) continue;
    auto outcome = transfer->conclude(result);
    idleHandles_.push_back(transfer->detach());
    transfer->finish(std::move(outcome));
    ++finished;
  }
  return finished;
}

std::shared_ptr<Transfer> TransferEngine::Core::takeActive(Transfer* transfer) {
  auto found = active_.find(transfer);
  if (found == active_.end()) return nullptr;
  auto owned = std::move(found->second);
  active_.erase(found);
  return owned;
}

void TransferEngine::Core::cancelAll() {
  std::vector<std::shared_ptr<Transfer>> submitted;
  {
    std::lock_guard lock(mutex_);
    submitted.swap(submitted_);
    cancelled_.clear();
  }
  for (auto& transfer : submitted) transfer->finish(std::unexpected(CancellationError()));
  while (!active_.empty()) cancel(*active_.begin()->second);
  for (auto& transfer : pending_) {
    if (transfer->state != Transfer::State::finished) {
      transfer->finish(std::unexpected(CancellationError()));
    }
  }
  pending_.clear();
}

namespace {

// Each I/O thread has a multi handle of its own, and with it its own connections: the
// limits are shared out so that together they stay within the settings. Never more
// threads than any limit allows one each.
std::size_t ioThreadsFor(const TransferEngineSettings& settings) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  return std::max<std::size_t>(
      1, std::min({cores, settings.maxIoThreads, settings.maxConnectionsPerHost,
                   settings.maxConnections, settings.maxActiveTransfers}));
}

std::size_t shareOf(std::size_t total, std::size_t part, std::size_t parts) {
  return total / parts + (part < total % parts ? 1 : 0);
}

TransferEngineSettings settingsOfThread(const TransferEngineSettings& settings, std::size_t part,
                                        std::size_t parts) {
  auto shared = settings;
  shared.maxConnectionsPerHost = shareOf(settings.maxConnectionsPerHost, part, parts);
  shared.maxConnections = shareOf(settings.maxConnections, part, parts);
  shared.maxActiveTransfers = shareOf(settings.maxActiveTransfers, part, parts);
  return shared;
}

}  // namespace

TransferEngine::TransferEngine(TransferEngineSettings settings) {
  const std::size_t threads = ioThreadsFor(settings);
  for (std::size_t i = 0; i < threads; ++i) {
    cores_.push_back(std::make_shared<Core>(settingsOfThread(settings, i, threads)));
  }
  threads_.resize(cores_.size());
  threadStarts_ = std::make_unique<std::once_flag[]>(cores_.size());
}

void TransferEngine::ensureRunning(std::size_t index) {
  std::call_once(threadStarts_[index],
                 [&] { threads_[index] = std::thread([core = cores_[index]] { core->run(); }); });
}

TransferEngine::~TransferEngine() {
  for (const auto& core : cores_) core->requestShutdown();
  // A completion may drop the last reference to its engine; the thread then ends on
  // its own, keeping its core alive until it does.
  for (auto& thread : threads_) {
    if (!thread.joinable()) continue;  // never started
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }
}

// The thread with the fewest transfers, the first one among equals: transfers spread
// over the cores when many run, and a lone request finds the connection the previous
// one left open.
std::size_t TransferEngine::leastBusyCore() const {
  std::size_t chosen = 0;
  for (std::size_t i = 1; i < cores_.size(); ++i) {
    if (cores_[i]->load() < cores_[chosen]->load()) chosen = i;
  }
  return chosen;
}

void TransferEngine::submit(HttpRequest request, BodyTarget body, std::stop_token stop,
                            Completion completion) {
  const auto index = leastBusyCore();
  ensureRunning(index);
  auto& core = *cores_[index];
  core.addLoad();
  auto transfer = std::make_shared<Transfer>(
      std::move(request), std::move(body),
      [&core, completion = std::move(completion)](Outcome outcome) {
        core.removeLoad();
        completion(std::move(outcome));
      });
  // Registered before the transfer is queued: a stop requested already runs the
  // callback here and now, and the engine then finds the flag set.
  if (stop.stop_possible()) {
    std::weak_ptr<Transfer> weak = transfer;
    transfer->stopCallback.emplace(std::move(stop), [core = &core, weak] {
      if (auto alive = weak.lock()) core->requestCancel(std::move(alive));
    });
  }
  if (!core.enqueue(transfer)) transfer->finish(std::unexpected(CancellationError()));
}

TransferEngine::Outcome TransferEngine::perform(HttpRequest request, BodyTarget body,
                                                std::stop_token stop) {
  // Shared with the completion, so that the promise outlives its last use there.
  auto promise = std::make_shared<std::promise<Outcome>>();
  auto future = promise->get_future();
  submit(std::move(request), std::move(body), std::move(stop),
         [promise](Outcome outcome) { promise->set_value(std::move(outcome)); });
  return future.get();
}

}  // namespace qelvo
