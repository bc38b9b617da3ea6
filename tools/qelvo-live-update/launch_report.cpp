#include "launch_report.h"

#include "sync_report.h"

namespace qelvo::cli {
namespace {

using Json = nlohmann::ordered_json;

Json pathOrNull(const std::optional<std::filesystem::path>& path) {
  return path ? Json(path->string()) : Json(nullptr);
}

Json attemptJson(const std::optional<LaunchState::Attempt>& attempt) {
  if (!attempt) return nullptr;
  Json object;
  object["id"] = attempt->id;
  object["snapshot"] = orNull(attempt->snapshotId);
  object["started"] = isoTime(attempt->started);
  object["status"] = std::string(LaunchState::rawValue(attempt->status));
  object["unconfirmed_launches"] = attempt->unconfirmedLaunches;
  return object;
}

}  // namespace

std::string launchLine(const std::string& appId, const LaunchAttempt& attempt) {
  Json object;
  object["app_id"] = appId;
  object["attempt"] = attempt.id;
  object["snapshot"] = orNull(attempt.snapshotId);
  object["directory"] = pathOrNull(attempt.directory);
  object["rolled_back_from"] = orNull(attempt.rolledBackFrom);
  return jsonLine(object);
}

std::string readyLine(const std::string& appId, const std::string& attemptId, bool confirmed) {
  Json object;
  object["app_id"] = appId;
  object["attempt"] = attemptId;
  object["confirmed"] = confirmed;
  return jsonLine(object);
}

std::string badLine(const std::string& appId, const std::optional<std::string>& attemptId,
                    bool reported, const std::optional<std::filesystem::path>& directory) {
  Json object;
  object["app_id"] = appId;
  object["attempt"] = orNull(attemptId);
  object["reported"] = reported;
  object["directory"] = pathOrNull(directory);
  return jsonLine(object);
}

std::string statusLine(const std::string& appId, const LaunchState& state,
                       std::optional<Date> lastSync, std::optional<Date> lastCheck) {
  Json failed = Json::array();
  for (const auto& failure : state.failedSnapshots) {
    failed.push_back({{"snapshot", failure.snapshotId},
                      {"failed_at", isoTime(failure.failedAt)},
                      {"reason", failure.reason}});
  }
  Json object;
  object["app_id"] = appId;
  object["current_snapshot"] = orNull(state.currentSnapshot);
  object["confirmed_snapshot"] = orNull(state.confirmedSnapshot);
  object["failed"] = std::move(failed);
  object["last_attempt"] = attemptJson(state.lastAttempt);
  object["last_sync"] = lastSync ? Json(isoTime(*lastSync)) : Json();
  object["last_check"] = lastCheck ? Json(isoTime(*lastCheck)) : Json();
  return jsonLine(object);
}

}  // namespace qelvo::cli
