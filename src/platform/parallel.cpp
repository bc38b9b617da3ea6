#include "platform/parallel.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>
#include <vector>

namespace qelvo::platform {
namespace {

constexpr std::size_t kMaxWorkers = 4;
constexpr std::size_t kItemsPerWorker = 64;

}  // namespace

std::size_t workersFor(std::size_t items) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  return std::clamp<std::size_t>(items / kItemsPerWorker, 1, std::min(cores, kMaxWorkers));
}

std::optional<std::size_t> forEachInOrder(
    std::size_t count, std::size_t workers,
    const std::function<bool(std::size_t index, std::size_t worker)>& work) {
  constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> lowestFailure{none};
  auto run = [&](std::size_t worker) {
    for (;;) {
      const std::size_t index = next.fetch_add(1, std::memory_order_relaxed);
      if (index >= count || index >= lowestFailure.load(std::memory_order_acquire)) return;
      if (!work(index, worker)) {
        std::size_t seen = lowestFailure.load(std::memory_order_relaxed);
        while (index < seen &&
               !lowestFailure.compare_exchange_weak(seen, index, std::memory_order_acq_rel)) {
        }
        return;
      }
    }
  };
  workers = std::clamp<std::size_t>(workers, 1, std::max<std::size_t>(count, 1));
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(workers - 1);
    for (std::size_t worker = 1; worker < workers; ++worker) helpers.emplace_back(run, worker);
    run(0);
  }
  const std::size_t failed = lowestFailure.load();
  if (failed == none) return std::nullopt;
  return failed;
}

}  // namespace qelvo::platform
