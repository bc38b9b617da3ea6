// `qelvo-live-update watch APP_ID:CHANNEL[:STRATEGY]...`: keeps the apps up to date for
// as long as it runs, as a service does. It adds the apps once and syncs on one warm
// manager (registrations, store and connections are kept between syncs, nothing is
// read again); the timing is WatchSchedule's, per app: apps that succeed together stay
// together, an app that fails backs off on its own. After each round it prints one
// line per app of the round (watch_report.h) and runs `--on-update` for each app whose
// directory changed (update_hook.h).
//
// SIGTERM or SIGINT stops it: while it waits, at once; during a sync, the sync is
// cancelled and ends (leaving the cache as it was before it), its lines are printed,
// and it exits 0. The stop signals must have been blocked (blockStopSignals) before the
// manager was made.
#pragma once

#include "cli_options.h"
#include "qelvo/live_update_manager.h"

namespace qelvo::cli {

int runWatch(LiveUpdateManager& manager, const CliOptions& options);

}  // namespace qelvo::cli
