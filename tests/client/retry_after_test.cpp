#include "client/retry_after.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/sync_errors.h"
#include "client/live_updates_client.h"
#include "support/loopback_server.h"

namespace qelvo {
namespace {

using std::chrono::seconds;
using test::LoopbackServer;

TEST(RetryAfter, ReadsDelaySecondsAndEveryFormOfHttpDate) {
  // 06 Nov 1994 08:48:07 UTC: 90 s before the dates below.
  const auto now = std::chrono::system_clock::from_time_t(784111687);
  struct Case {
    std::string value;
    std::optional<seconds> wait;
  };
  const Case cases[] = {
      {"120", seconds(120)},
      {"0", seconds(0)},
      {" \t7 ", seconds(7)},
      {"99999999999999999999999", kLongestRetryAfter},
      {"Sun, 06 Nov 1994 08:49:37 GMT", seconds(90)},   // IMF-fixdate
      {"Sunday, 06-Nov-94 08:49:37 GMT", seconds(90)},  // RFC 850
      {"Sun Nov  6 08:49:37 1994", seconds(90)},        // asctime
      {"Sat, 05 Nov 1994 08:49:37 GMT", seconds(0)},    // passed already
      {"", std::nullopt},
      {"-5", std::nullopt},
      {"1.5", std::nullopt},
      {"12 s", std::nullopt},
      {"+3", std::nullopt},
      {"soon", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseRetryAfter(c.value, now), c.wait) << '"' << c.value << '"';
  }
}

}  // namespace
}  // namespace qelvo
