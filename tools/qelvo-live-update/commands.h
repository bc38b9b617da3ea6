// The commands of qelvo-live-update, each on a configured manager. Each returns the
// process's exit code: 0 success, 1 failure, 3 nothing to report (no directory, no sync).
#pragma once

#include <memory>

#include "cli_options.h"
#include "qelvo/live_update_manager.h"

namespace qelvo::cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNothing = 3;

// Configures the process (host identity, deploy service) from the options and returns
// the manager they name. Throws ConfigurationError.
std::shared_ptr<LiveUpdateManager> makeManager(const CliOptions& options);

// Adds every app of the command line (with its --existing-cache), without syncing.
void addAll(LiveUpdateManager& manager, const CliOptions& options);

// Adds every app, syncs them as one list, prints one JSON line per app in command-line
// order. 0 when every app succeeded.
int runSync(LiveUpdateManager& manager, const CliOptions& options);
// Prints the directory the app loads from, and nothing else.
int runDir(LiveUpdateManager& manager, const CliOptions& options);
// Prints when the app (without one: any app in the cache) last synced.
int runLastSync(LiveUpdateManager& manager, const CliOptions& options);
// Trims the version cache of the apps (without any: of every app in the cache).
int runClean(LiveUpdateManager& manager, const CliOptions& options);
// Forgets every snapshot; empties the cache unless --retain-cache.
int runReset(LiveUpdateManager& manager, const CliOptions& options);

}  // namespace qelvo::cli
