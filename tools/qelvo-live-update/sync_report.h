// The lines qelvo-live-update prints for scripts: one JSON object per synced app,
//   {"app_id":..,"ok":true,"snapshot":..,"build_id":..,"source":"download"|"cache",
//    "latest_app_directory_changed":true|false|null,"directory":..}
//   {"app_id":..,"ok":false,"fail_step":..,"error":<errorDescription>}
// and the time of a last sync.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "qelvo/live_update_manager.h"

namespace qelvo::cli {

// One JSON object as one line. Names and texts come from the command line, the server
// and the host; a byte that is not UTF-8 is replaced rather than lose the line.
std::string jsonLine(const nlohmann::ordered_json& object);

// The value, or JSON null.
template <class T>
nlohmann::ordered_json orNull(const std::optional<T>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

std::string successLine(const LiveUpdateManager::SyncResult& result,
                        const std::optional<std::filesystem::path>& directory);
std::string failureLine(const SyncError& error);
// The objects of those lines, for lines that add to them.
nlohmann::ordered_json successObject(const LiveUpdateManager::SyncResult& result,
                                     const std::optional<std::filesystem::path>& directory);
nlohmann::ordered_json failureObject(const SyncError& error);

// "2025-01-02T10:00:00Z" (UTC, whole seconds).
std::string isoTime(Date date);

}  // namespace qelvo::cli
