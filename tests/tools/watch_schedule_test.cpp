// The timing of `qelvo-live-update watch`, drawn many times from seeded schedules: the
// bounds hold for every draw, and the draws really spread over them.
#include "watch_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace qelvo::cli {
namespace {

using namespace std::chrono_literals;

const WatchTiming kTiming{.interval = 900s, .jitter = 90s, .retryMin = 30s, .retryMax = 1h};

// The smallest and largest of 2,000 draws, each checked against [low, high].
std::pair<WatchDuration, WatchDuration> drawRange(const std::function<WatchDuration()>& draw,
                                                  WatchDuration low, WatchDuration high) {
  WatchDuration smallest = WatchDuration::max(), largest = WatchDuration::min();
  for (int i = 0; i < 2000; ++i) {
    auto wait = draw();
    EXPECT_GE(wait, low);
    EXPECT_LE(wait, high);
    smallest = std::min(smallest, wait);
    largest = std::max(largest, wait);
  }
  return {smallest, largest};
}

TEST(WatchSchedule, FirstSyncAndIntervalsSpreadWithinTheirBounds) {
  WatchSchedule schedule(kTiming, 1);
  // Anywhere in the first interval, so devices that boot together check apart.
  auto [firstLow, firstHigh] = drawRange([&] { return schedule.first(); }, 0s, 900s - 1ms);
  EXPECT_LT(firstLow, 30s);
  EXPECT_GT(firstHigh, 870s);
  auto [low, high] = drawRange([&] { return schedule.afterSuccess(); }, 810s, 990s);
  EXPECT_LT(low, 815s);
  EXPECT_GT(high, 985s);

  // One seed, one sequence (what --seed gives tests); another seed, another one.
  auto draws = [](unsigned seed) {
    WatchSchedule seeded(kTiming, seed);
    return std::vector{seeded.afterSuccess(), seeded.afterSuccess(), seeded.afterSuccess()};
  };
  EXPECT_EQ(draws(42), draws(42));
  EXPECT_NE(draws(42), draws(43));
}

TEST(WatchSchedule, FailuresBackOffExponentiallyUpToTheCap) {
  WatchSchedule schedule(kTiming, 2);
  const std::vector<WatchDuration> ceilings = {30s, 60s, 120s, 240s, 480s, 960s, 1920s, 3600s, 3600s};
  for (int failures = 1; failures <= int(ceilings.size()); ++failures) {
    const auto ceiling = ceilings[failures - 1];
    EXPECT_EQ(schedule.backoffCeiling(failures), ceiling) << failures;
    auto [low, high] = drawRange([&] { return schedule.afterFailure(failures, std::nullopt); },
                                 ceiling / 2, ceiling);
    EXPECT_LT(low, ceiling / 2 + ceiling / 20) << failures;
    EXPECT_GT(high, ceiling - ceiling / 20) << failures;
  }
  EXPECT_EQ(schedule.backoffCeiling(1'000'000), 3600s) << "a long outage stays at the cap";
}

TEST(WatchSchedule, RetryAfterIsAFloorSpreadByTheJitterAndBounded) {
  WatchSchedule schedule(kTiming, 3);
  // Longer than the back-off: what the service asked, plus up to the jitter.
  auto [low, high] = drawRange([&] { return schedule.afterFailure(1, 600s); }, 600s, 690s);
  EXPECT_LT(low, 605s);
  EXPECT_GT(high, 685s);
  // Shorter than the back-off: the back-off.
  drawRange([&] { return schedule.afterFailure(8, 10s); }, 1800s, 3600s);
  // A day at most, whatever the service says.
  drawRange([&] { return schedule.afterFailure(1, std::chrono::seconds(0x7fffffff)); }, 24h,
            24h + 90s);
}

}  // namespace
}  // namespace qelvo::cli
