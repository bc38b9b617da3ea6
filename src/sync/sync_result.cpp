#include "qelvo/live_update_manager.h"

namespace qelvo {

using SyncResult = LiveUpdateManager::SyncResult;

std::optional<std::string> SyncResult::id() const {
  return snapshot ? std::optional(snapshot->id) : std::nullopt;
}

std::optional<std::string> SyncResult::buildId() const {
  return snapshot ? std::optional(snapshot->buildId) : std::nullopt;
}

std::optional<std::string> SyncResult::binaryVersion() const {
  return snapshot ? std::optional(snapshot->binaryVersion) : std::nullopt;
}

std::optional<Date> SyncResult::lastUsed() const {
  return snapshot ? std::optional(snapshot->lastUsed) : std::nullopt;
}

bool operator==(const SyncResult& a, const SyncResult& b) {
  // Snapshots compare by id, so two absent snapshots or two with one id are equal.
  return a.liveUpdate == b.liveUpdate && a.snapshot == b.snapshot && a.source == b.source;
}

}  // namespace qelvo
