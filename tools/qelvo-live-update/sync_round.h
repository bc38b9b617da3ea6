// One round of `watch`: the apps that are due sync as one list, and each app's outcome
// is collected. A stop signal meanwhile cancels them (cancelSync); the round still waits
// for every outcome, because a cancelled sync has removed what it wrote only once it has
// ended: after the round the process may exit and leave a consistent cache.
#pragma once

#include <expected>
#include <map>
#include <string>
#include <vector>

#include "qelvo/live_update_manager.h"
#include "stop_signals.h"

namespace qelvo::cli {

using AppOutcome = std::expected<LiveUpdateManager::SyncResult, SyncError>;

struct RoundOutcome {
  std::map<std::string, AppOutcome> outcomes;  // by app id, one for each app of the round
  bool stopped = false;                        // a stop signal came during the round
};

RoundOutcome syncRound(LiveUpdateManager& manager, const std::vector<std::string>& appIds,
                       StopSignals& signals);

}  // namespace qelvo::cli
