#include "watch_report.h"

#include "sync_report.h"

namespace qelvo::cli {

std::string watchLine(const AppOutcome& outcome,
                      const std::optional<std::filesystem::path>& directory,
                      std::optional<WatchDuration> nextSync) {
  using Json = nlohmann::ordered_json;
  Json object;
  if (outcome) {
    object = successObject(*outcome, directory);
  } else {
    object = failureObject(outcome.error());
    auto retryAfter = outcome.error().retryAfter();
    object["retry_after"] = retryAfter ? Json(retryAfter->count()) : Json(nullptr);
  }
  if (nextSync) {
    object["next_sync_at"] = isoTime(std::chrono::system_clock::now() + *nextSync);
    object["next_sync_in"] = std::chrono::duration<double>(*nextSync).count();
  } else {
    object["next_sync_at"] = nullptr;
    object["next_sync_in"] = nullptr;
  }
  return jsonLine(object);
}

}  // namespace qelvo::cli
