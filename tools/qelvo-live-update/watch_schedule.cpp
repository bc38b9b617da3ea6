#include "watch_schedule.h"

#include <algorithm>

namespace qelvo::cli {

WatchSchedule::WatchSchedule(WatchTiming timing, std::uint64_t seed)
    : timing_(timing), random_(seed) {}

WatchDuration WatchSchedule::between(WatchDuration low, WatchDuration high) {
  std::uniform_int_distribution<WatchDuration::rep> pick(low.count(), high.count());
  return WatchDuration(pick(random_));
}

WatchDuration WatchSchedule::first() {
  const auto window = timing_.firstWithin.value_or(timing_.interval);
  if (window <= WatchDuration(0)) return WatchDuration(0);
  return between(WatchDuration(0), window - WatchDuration(1));
}

WatchDuration WatchSchedule::afterSuccess() {
  return between(timing_.interval - timing_.jitter, timing_.interval + timing_.jitter);
}

WatchDuration WatchSchedule::backoffCeiling(int failures) const {
  auto ceiling = timing_.retryMin;
  // Doubling stops at the cap, long before the count could overflow anything.
  for (int i = 1; i < failures && ceiling < timing_.retryMax; ++i) ceiling *= 2;
  return std::min(ceiling, timing_.retryMax);
}

WatchDuration WatchSchedule::afterFailure(int failures,
                                          std::optional<std::chrono::seconds> retryAfter) {
  const auto ceiling = backoffCeiling(std::max(failures, 1));
  auto wait = between(ceiling / 2, ceiling);
  if (retryAfter) {
    WatchDuration asked = std::min<WatchDuration>(*retryAfter, kLongestHonouredRetryAfter);
    wait = std::max(wait, asked + between(WatchDuration(0), timing_.jitter));
  }
  return wait;
}

}  // namespace qelvo::cli
