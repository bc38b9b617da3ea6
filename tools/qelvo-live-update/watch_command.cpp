#include "watch_command.h"

#include <algorithm>
#include <iostream>
#include <random>

#include "commands.h"
#include "toolkit/toolkit.h"
#include "stop_signals.h"
#include "sync_round.h"
#include "update_hook.h"
#include "watch_report.h"
#include "watch_schedule.h"

namespace qelvo::cli {
namespace {

using Clock = std::chrono::steady_clock;

struct WatchedApp {
  std::string appId;
  Clock::time_point due;
  int failures = 0;  // in a row
};

// Whether the sync changed the directory the app loads from.
bool changedDirectory(const AppOutcome& outcome) {
  if (!outcome) return false;
  const auto* cache = std::get_if<LiveUpdateManager::SyncResult::Cache>(&outcome->source);
  return !cache || cache->latestAppDirectoryChanged;
}

std::uint64_t seedOf(const CliOptions& options) {
  if (options.seed) return *options.seed;
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

// The apps whose time has come.
std::vector<std::string> dueApps(const std::vector<WatchedApp>& apps, Clock::time_point now) {
  std::vector<std::string> due;
  for (const auto& app : apps) {
    if (app.due <= now) due.push_back(app.appId);
  }
  return due;
}

}  // namespace

int runWatch(LiveUpdateManager& manager, const CliOptions& options) {
  addAll(manager, options);
  StopSignals signals;
  WatchSchedule schedule(options.timing, seedOf(options));

  // One first moment for every app, so that they sync together.
  std::vector<WatchedApp> apps;
  const auto first = Clock::now() + schedule.first();
  for (const auto& app : options.apps) apps.push_back({app.appId, first});

  while (true) {
    auto next = std::min_element(apps.begin(), apps.end(), [](const auto& a, const auto& b) {
                  return a.due < b.due;
                })->due;
    if (!signals.sleepUntil(next)) return 0;
    auto round = syncRound(manager, dueApps(apps, Clock::now()), signals);

    // Apps that succeed in one round keep one rhythm; each failure backs off on its own.
    const auto now = Clock::now();
    const auto afterSuccess = schedule.afterSuccess();
    for (auto& app : apps) {
      auto found = round.outcomes.find(app.appId);
      if (found == round.outcomes.end()) continue;
      const auto& outcome = found->second;
      std::optional<WatchDuration> wait;
      if (!round.stopped) {
        app.failures = outcome ? 0 : app.failures + 1;
        wait = outcome ? afterSuccess
                       : schedule.afterFailure(app.failures, outcome.error().retryAfter());
        app.due = now + *wait;
      }
      printLine(watchLine(outcome, manager.latestAppDirectory(app.appId), wait));
    }
    if (round.stopped) return 0;

    if (options.onUpdate.empty()) continue;
    for (const auto& app : apps) {
      auto found = round.outcomes.find(app.appId);
      if (found == round.outcomes.end() || !changedDirectory(found->second)) continue;
      int status = runUpdateHook(options.onUpdate, app.appId, found->second->id(),
                                 manager.latestAppDirectory(app.appId));
      if (status != 0) {
        std::cerr << "qelvo-live-update: --on-update for " << app.appId
                  << (status < 0 ? " could not be started" : " ended with status " +
                                                                 std::to_string(status))
                  << "\n";
      }
    }
  }
}

}  // namespace qelvo::cli
