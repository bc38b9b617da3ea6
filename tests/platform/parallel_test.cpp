#include "platform/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace qelvo::platform {
namespace {

TEST(ParallelTest, RunsEveryIndexOnceAndUsesNoMoreWorkersThanAsked) {
  std::vector<std::atomic<int>> runs(5000);
  std::mutex mutex;
  std::set<std::size_t> workers;
  std::set<std::thread::id> threads;
  auto failed = forEachInOrder(runs.size(), 3, [&](std::size_t index, std::size_t worker) {
    ++runs[index];
    std::lock_guard lock(mutex);
    workers.insert(worker);
    threads.insert(std::this_thread::get_id());
    return true;
  });
  EXPECT_FALSE(failed);
  for (std::size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i].load(), 1) << i;
  EXPECT_LE(workers.size(), 3u);
  EXPECT_LE(*workers.rbegin(), 2u);
  EXPECT_EQ(workers.size(), threads.size()) << "one thread per worker number";
  EXPECT_FALSE(forEachInOrder(0, 4, [](std::size_t, std::size_t) { return false; }));
}

// Whatever the interleaving, the failure reported is the lowest, and every index below
// it has run: as a loop stopping at its first failure would have seen it.
TEST(ParallelTest, ReportsTheLowestFailureWithEverythingBelowItRun) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::vector<std::atomic<int>> runs(3000);
    auto failed = forEachInOrder(runs.size(), 4, [&](std::size_t index, std::size_t) {
      ++runs[index];
      if (index % 7 == 0) std::this_thread::yield();
      return index != 1234 && index != 2000 && index != 2999;
    });
    ASSERT_TRUE(failed);
    EXPECT_EQ(*failed, 1234u);
    for (std::size_t i = 0; i <= 1234; ++i) ASSERT_EQ(runs[i].load(), 1) << i;
    for (std::size_t i = 1235; i < runs.size(); ++i) ASSERT_LE(runs[i].load(), 1) << i;
  }
}

}  // namespace
}  // namespace qelvo::platform
