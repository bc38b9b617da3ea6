// The line `watch` prints for each app after each of its syncs: the line of `sync`
// (sync_report.h) and when the app syncs next; a failure also says how long the deploy
// service asked the device to wait (its Retry-After, in seconds; null when it did not):
//   {"app_id":..,"ok":true,...,"directory":..,"next_sync_at":"2025-01-02T10:15:00Z",
//    "next_sync_in":899.512}
//   {"app_id":..,"ok":false,"fail_step":..,"error":..,"retry_after":120,
//    "next_sync_at":..,"next_sync_in":..}
// `next_sync_in` is in seconds from the line; both are null when `watch` is stopping.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "sync_round.h"
#include "watch_schedule.h"

namespace qelvo::cli {

std::string watchLine(const AppOutcome& outcome,
                      const std::optional<std::filesystem::path>& directory,
                      std::optional<WatchDuration> nextSync);

}  // namespace qelvo::cli
