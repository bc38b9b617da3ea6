#include "store/check_times.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace qelvo {
namespace {

using namespace std::chrono_literals;

// A check is recorded at most once per resolution, never kept from the future, and a
// value that is not a number of seconds reads as no check at all.
TEST(CheckTimes, AreWrittenOncePerResolutionAndUnreadableOnesAreAbsent) {
  test::TempDir dir;
  auto store = KeyValueSuite::open(dir / "kv.sqlite3", "s").value();
  const Date t0 = Date{} + 1000s;
  EXPECT_EQ(lastCheck(*store, "app"), std::nullopt);
  struct Step {
    Date now;
    Date recorded;
  };
  for (auto [now, recorded] : std::vector<Step>{
           {t0, t0}, {t0 + 59s, t0}, {t0 + 60s, t0 + 60s}, {t0 - 1s, t0 - 1s}}) {
    noteCheck(*store, "app", now, 60s);
    EXPECT_EQ(lastCheck(*store, "app"), recorded);
  }
  for (const char* bad : {"", "12abc", "abc", "1e"}) {
    ASSERT_TRUE(store->setData("LiveUpdateLastCheck-app", bad));
    EXPECT_EQ(lastCheck(*store, "app"), std::nullopt) << bad;
  }
  EXPECT_EQ(lastCheck(*store, "other"), std::nullopt);
}

}  // namespace
}  // namespace qelvo
