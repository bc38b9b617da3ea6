#include "sync_report.h"

#include <nlohmann/json.hpp>

#include "common/utc_time.h"

namespace qelvo::cli {

using Json = nlohmann::ordered_json;

std::string jsonLine(const nlohmann::ordered_json& object) {
  return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json successObject(const LiveUpdateManager::SyncResult& result,
                   const std::optional<std::filesystem::path>& directory) {
  const auto* cache = std::get_if<LiveUpdateManager::SyncResult::Cache>(&result.source);
  Json object;
  object["app_id"] = result.appId();
  object["ok"] = true;
  object["snapshot"] = orNull(result.id());
  object["build_id"] = orNull(result.buildId());
  object["source"] = cache ? "cache" : "download";
  object["latest_app_directory_changed"] =
      cache ? Json(cache->latestAppDirectoryChanged) : Json(nullptr);
  object["directory"] = directory ? Json(directory->string()) : Json(nullptr);
  return object;
}

std::string successLine(const LiveUpdateManager::SyncResult& result,
                        const std::optional<std::filesystem::path>& directory) {
  return jsonLine(successObject(result, directory));
}

Json failureObject(const SyncError& error) {
  Json object;
  object["app_id"] = error.appId;
  object["ok"] = false;
  object["fail_step"] = std::string(SyncError::rawValue(error.failStep));
  object["error"] = error.errorDescription();
  return object;
}

std::string failureLine(const SyncError& error) { return jsonLine(failureObject(error)); }

std::string isoTime(Date date) { return tools::formatUtc(date, "%Y-%m-%dT%H:%M:%SZ"); }

}  // namespace qelvo::cli
