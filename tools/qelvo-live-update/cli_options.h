// The command line of qelvo-live-update, parsed and checked before anything runs: the
// commands and options of `kUsage` (its --help), documented in docs/cli.md.
#pragma once

#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "qelvo/live_update.h"
#include "watch_schedule.h"

namespace qelvo::cli {

// One app on the command line: "APP_ID:CHANNEL[:zip|differential]".
struct AppSpec {
  std::string appId;
  std::string channel;
  LiveUpdate::Strategy strategy = LiveUpdate::Strategy::zip;

  LiveUpdate liveUpdate() const { return LiveUpdate(appId, channel, false, strategy); }
};

enum class Command { sync, dir, lastSync, clean, reset, launch, ready, bad, status, watch };

struct CliOptions {
  std::string bundleId = "dev.qelvo.live-update";
  std::string bundleVersion = "1.0.0";
  std::optional<std::filesystem::path> dataDir;
  std::optional<std::string> server;
  std::optional<std::filesystem::path> caFile;
  std::optional<std::string> name;
  int maxVersions = 3;
  std::optional<std::filesystem::path> publicKey;
  bool requireClaims = false;  // a secure manager refuses manifests without release claims
  bool quiet = false;
  bool help = false;  // --help: print the usage and nothing else
  bool shareUnchanged = false;  // Limits::shareUnchangedFiles

  Command command = Command::sync;
  std::vector<AppSpec> apps;
  std::map<std::string, std::filesystem::path> existingCaches;  // sync, watch: app id to directory
  bool retainCache = false;                                     // reset
  std::string attemptId;                                        // ready
  std::string reason;                                           // bad
  WatchTiming timing;                                           // watch
  std::optional<std::uint64_t> seed;                            // watch: for tests
  std::string onUpdate;                                         // watch: none when empty
};

// The options, or the message of a usage error.
std::expected<CliOptions, std::string> parseCliOptions(int argc, const char* const* argv);

// "APP_ID:CHANNEL[:zip|differential]".
std::expected<AppSpec, std::string> parseAppSpec(const std::string& text);

extern const char* const kUsage;

}  // namespace qelvo::cli
