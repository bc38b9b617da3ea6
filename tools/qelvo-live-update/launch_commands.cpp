#include "launch_commands.h"

#include "commands.h"
#include "launch_report.h"
#include "toolkit/toolkit.h"

namespace qelvo::cli {

int runLaunch(LiveUpdateManager& manager, const CliOptions& options) {
  addAll(manager, options);
  const auto& appId = options.apps.front().appId;
  printLine(launchLine(appId, manager.beginLaunch(appId)));
  return 0;
}

int runReady(LiveUpdateManager& manager, const CliOptions& options) {
  addAll(manager, options);
  const auto& appId = options.apps.front().appId;
  const bool confirmed = manager.confirmLaunch(appId, options.attemptId);
  printLine(readyLine(appId, options.attemptId, confirmed));
  return confirmed ? 0 : kExitNothing;
}

int runBad(LiveUpdateManager& manager, const CliOptions& options) {
  addAll(manager, options);
  const auto& appId = options.apps.front().appId;
  // A script has no attempt id of the page that failed: the latest attempt is the one
  // that is running. Should another launch begin meanwhile, the report names an earlier
  // attempt and changes nothing.
  std::optional<std::string> attemptId;
  if (auto attempt = manager.launchState(appId).lastAttempt) attemptId = attempt->id;
  const bool reported = attemptId && manager.reportBadLaunch(appId, *attemptId, options.reason);
  printLine(badLine(appId, attemptId, reported, manager.latestAppDirectory(appId)));
  return reported ? 0 : kExitNothing;
}

int runStatus(LiveUpdateManager& manager, const CliOptions& options) {
  addAll(manager, options);
  for (const auto& app : options.apps)
    printLine(statusLine(app.appId, manager.launchState(app.appId), manager.lastSync(app.appId),
                         manager.lastCheck(app.appId)));
  return 0;
}

}  // namespace qelvo::cli
