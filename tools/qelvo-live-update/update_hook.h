// The command `watch --on-update CMD` runs after a sync changed the directory an app
// loads from, for example to make a kiosk's web view load the new snapshot:
//
//   qelvo-live-update ... watch kiosk:production --on-update 'systemctl --user restart kiosk'
//
// It runs as `/bin/sh -c CMD`, with standard input from /dev/null and standard output
// and error those of `watch`, and with
//   QELVO_APP_ID     the app whose directory changed
//   QELVO_SNAPSHOT   the snapshot it loads from now (empty: the host's embedded copy)
//   QELVO_DIRECTORY  that snapshot's directory (empty: the embedded copy)
// `watch` waits for it before it goes on, so it should return promptly (start whatever
// takes long in the background).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qelvo::cli {

// Runs `command` for the app and waits for it: its exit status, 128 + the signal that
// ended it, or -1 when it could not be started.
int runUpdateHook(const std::string& command, const std::string& appId,
                  const std::optional<std::string>& snapshotId,
                  const std::optional<std::filesystem::path>& directory);

}  // namespace qelvo::cli
