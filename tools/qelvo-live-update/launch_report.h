// The lines qelvo-live-update prints for the launch guard, one JSON object each:
//   launch: {"app_id":..,"attempt":..,"snapshot":..|null,"directory":..|null,
//            "rolled_back_from":..|null}
//   ready:  {"app_id":..,"attempt":..,"confirmed":true|false}
//   bad:    {"app_id":..,"attempt":..|null,"reported":true|false,"directory":..|null}
//   status: {"app_id":..,"current_snapshot":..|null,"confirmed_snapshot":..|null,
//            "failed":[{"snapshot":..,"failed_at":..,"reason":..}],
//            "last_attempt":{"id":..,"snapshot":..|null,"started":..,
//                            "status":"started"|"confirmed"|"bad",
//                            "unconfirmed_launches":N}|null}
// Times are UTC ISO 8601; a null snapshot or directory is the host's embedded copy.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "qelvo/launch.h"

namespace qelvo::cli {

std::string launchLine(const std::string& appId, const LaunchAttempt& attempt);
std::string readyLine(const std::string& appId, const std::string& attemptId, bool confirmed);
std::string badLine(const std::string& appId, const std::optional<std::string>& attemptId,
                    bool reported, const std::optional<std::filesystem::path>& directory);
std::string statusLine(const std::string& appId, const LaunchState& state,
                       std::optional<Date> lastSync, std::optional<Date> lastCheck);

}  // namespace qelvo::cli
