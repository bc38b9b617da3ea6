#include "qelvo/concurrent_dictionary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace qelvo::test {
namespace {

TEST(ConcurrentDictionary, IterationWalksOneCopy) {
  ConcurrentDictionary<std::string, int> dict("tests.dict");
  for (int i = 0; i < 50; ++i) dict.set(std::to_string(i), i);
  std::set<std::string> seen;
  for (const auto& [key, value] : dict) {
    EXPECT_EQ(std::to_string(value), key);
    EXPECT_TRUE(seen.insert(key).second) << "each pair once";
    dict.set("late-" + key, 0);  // writes during the walk do not disturb it
  }
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(dict.size(), 100u);
}

TEST(ConcurrentDictionary, WritesAreVisibleToLaterReadsFromAnyThread) {
  ConcurrentDictionary<int, int> dict("tests.dict");
  constexpr int kThreads = 8;
  constexpr int kKeys = 500;
  std::atomic<int> failures = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kKeys; ++k) {
        int key = t * kKeys + k;
        dict.set(key, key * 2);
        if (dict.get(key) != key * 2) ++failures;
        if (k % 3 == 0) {
          dict.set(key, std::nullopt);
          if (dict.get(key)) ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(dict.size(), static_cast<std::size_t>(kThreads * (kKeys - (kKeys + 2) / 3)));
}

TEST(ConcurrentDictionary, GetOrInsertGivesRacingCallersOneValue) {
  ConcurrentDictionary<std::string, std::shared_ptr<int>> dict("tests.dict");
  constexpr int kThreads = 16;
  std::vector<std::shared_ptr<int>> values(kThreads);
  std::atomic<int> inserted = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto [value, created] = dict.getOrInsert("key", [t] { return std::make_shared<int>(t); });
      values[t] = value;
      if (created) ++inserted;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(inserted, 1);
  for (const auto& value : values) EXPECT_EQ(value, values.front());

  EXPECT_FALSE(dict.removeIf("key", std::make_shared<int>(0))) << "another value stays";
  EXPECT_TRUE(dict.removeIf("key", values.front()));
  EXPECT_TRUE(dict.empty());
}

}  // namespace
}  // namespace qelvo::test
