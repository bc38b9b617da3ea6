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
  dict.set("late-7", std::nullopt);  // an absent value removes the key
  EXPECT_EQ(dict.get("late-7"), std::nullopt);
  EXPECT_EQ(dict.get("7"), 7);
  EXPECT_EQ(dict.size(), 99u);
}

// Every operation from racing threads: getOrInsert gives them one value, and each
// thread's own writes are what it reads back.
TEST(ConcurrentDictionary, RacingCallersShareOneInsertedValueAndSeeTheirOwnWrites) {
  ConcurrentDictionary<std::string, std::shared_ptr<int>> dict("tests.dict");
  constexpr int kThreads = 16;
  std::vector<std::shared_ptr<int>> values(kThreads);
  std::atomic<int> inserted = 0;
  std::atomic<int> misread = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto [value, created] = dict.getOrInsert("key", [t] { return std::make_shared<int>(t); });
      values[t] = value;
      if (created) ++inserted;
      const auto own = "own-" + std::to_string(t);
      for (int i = 0; i < 200; ++i) {
        dict.set(own, std::make_shared<int>(i));
        if (auto read = dict.get(own); !read || **read != i) ++misread;
      }
      dict.set(own, std::nullopt);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(inserted, 1);
  EXPECT_EQ(misread, 0);
  for (const auto& value : values) EXPECT_EQ(value, values.front());

  EXPECT_FALSE(dict.removeIf("key", std::make_shared<int>(0))) << "another value stays";
  EXPECT_TRUE(dict.removeIf("key", values.front()));
  EXPECT_TRUE(dict.empty());
}

}  // namespace
}  // namespace qelvo::test
