// The launch guard's commands of qelvo-live-update: a host script starts the web app
// with `launch`, confirms it with `ready`, or reports a fatal error with `bad`; `status`
// shows what the guard knows. Each adds its apps first (without syncing) and prints one
// JSON line (launch_report.h); the exit code is 0, or 3 when there was nothing to
// confirm or report (an attempt that is not the app's latest).
#pragma once

#include "cli_options.h"
#include "qelvo/live_update_manager.h"

namespace qelvo::cli {

// Begins a launch: the directory to load and the attempt's id.
int runLaunch(LiveUpdateManager& manager, const CliOptions& options);
// Confirms the attempt named on the command line.
int runReady(LiveUpdateManager& manager, const CliOptions& options);
// Reports the app's latest attempt as bad (with the reason, if given).
int runBad(LiveUpdateManager& manager, const CliOptions& options);
// One line per app: current, last confirmed and failed snapshots, and the last attempt.
int runStatus(LiveUpdateManager& manager, const CliOptions& options);

}  // namespace qelvo::cli
