// When `qelvo-live-update watch` syncs next. Plain arithmetic over a seeded random
// source, so that tests can check its bounds without waiting:
//
//   WatchSchedule schedule(WatchTiming{.interval = 15min, .jitter = 90s}, seed);
//   auto wait = schedule.first();                   // somewhere in the first interval
//   wait = schedule.afterSuccess();                 // interval ± jitter
//   wait = schedule.afterFailure(3, std::nullopt);  // the third failure in a row
//
// - The first sync comes at a random point of the first interval (or of a shorter
//   window): devices that boot together (after a power cut, a fleet roll-out) do not
//   all check at once.
// - After a success, the next sync comes an interval later, moved by up to `jitter`
//   either way, so that devices never fall into step.
// - After the n-th failure in a row, the wait backs off: a random point of the upper
//   half of min(retryMax, retryMin * 2^(n-1)) ("equal jitter": it grows, and devices
//   that failed together spread out).
// - A Retry-After from the service is a floor: the wait is at least what it asks (at
//   most kLongestHonouredRetryAfter, so a broken clock or header cannot silence a
//   device for good), plus up to `jitter`, so that a fleet told the same time does not
//   come back at the same instant.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>

namespace qelvo::cli {

using WatchDuration = std::chrono::milliseconds;

inline constexpr WatchDuration kLongestHonouredRetryAfter = std::chrono::hours(24);

struct WatchTiming {
  WatchDuration interval = std::chrono::minutes(15);
  // The first sync comes at a random point of this window: the interval unless a
  // shorter one is asked for (a device off for days should not wait a whole interval
  // after it boots; devices that boot together still spread over the window). 0: at once.
  std::optional<WatchDuration> firstWithin{};
  WatchDuration jitter = std::chrono::seconds(90);  // at most `interval`
  WatchDuration retryMin = std::chrono::seconds(30);
  WatchDuration retryMax = std::chrono::hours(1);  // at least `retryMin`
};

class WatchSchedule {
 public:
  WatchSchedule(WatchTiming timing, std::uint64_t seed);

  // The wait before the first sync: [0, firstWithin), firstWithin being the interval
  // unless given.
  WatchDuration first();
  // The wait after a sync that succeeded: [interval - jitter, interval + jitter].
  WatchDuration afterSuccess();
  // The wait after the `failures`-th failure in a row (1 for the first), given the
  // service's Retry-After, if it sent one.
  WatchDuration afterFailure(int failures, std::optional<std::chrono::seconds> retryAfter);

  // The longest back-off after the `failures`-th failure in a row:
  // min(retryMax, retryMin * 2^(failures-1)).
  WatchDuration backoffCeiling(int failures) const;

  const WatchTiming& timing() const { return timing_; }

 private:
  // Uniform over [low, high].
  WatchDuration between(WatchDuration low, WatchDuration high);

  WatchTiming timing_;
  std::mt19937_64 random_;
};

}  // namespace qelvo::cli
