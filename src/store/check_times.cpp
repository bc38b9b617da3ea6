#include "store/check_times.h"

#include <charconv>

#include "base/output.h"
#include "store/records_json.h"

namespace qelvo {
namespace {

constexpr const char* kLastCheckKeyPrefix = "LiveUpdateLastCheck-";

std::optional<Date> decode(const std::optional<std::string>& bytes) {
  if (!bytes) return std::nullopt;
  double seconds = 0;
  auto [end, error] = std::from_chars(bytes->data(), bytes->data() + bytes->size(), seconds);
  if (error != std::errc() || end != bytes->data() + bytes->size()) return std::nullopt;
  return dateFromReferenceSeconds(seconds);
}

}  // namespace

std::optional<Date> lastCheck(const KeyValueSuite& store, const std::string& appId) {
  auto bytes = store.data(kLastCheckKeyPrefix + appId);
  if (!bytes) {
    printLine(bytes.error().description);
    return std::nullopt;
  }
  return decode(*bytes);
}

void noteCheck(KeyValueSuite& store, const std::string& appId, Date now,
               std::chrono::seconds resolution) {
  // Read first, outside any write transaction: most checks find it recent enough.
  if (auto recorded = lastCheck(store, appId); recorded && now - *recorded < resolution &&
                                               *recorded <= now) {
    return;
  }
  auto updated = store.updateData(kLastCheckKeyPrefix + appId, [&](std::optional<std::string>) {
    return std::optional<std::string>(std::to_string(referenceSeconds(now)));
  });
  if (!updated) printLine(updated.error().description);
}

}  // namespace qelvo
