#include "commands.h"

#include <algorithm>
#include <iostream>

#include "toolkit/toolkit.h"
#include "progress_board.h"
#include "qelvo/configuration.h"
#include "qelvo/secure_live_update_manager.h"
#include "sync_report.h"

namespace qelvo::cli {
namespace {

// Every app with a directory in the container's cache, whichever manager added it.
std::vector<std::string> cachedAppIds() {
  std::vector<std::string> ids;
  std::error_code error;
  for (std::filesystem::directory_iterator it(FileManagerUtil().liveUpdatesUrl(), error), end;
       !error && it != end; it.increment(error)) {
    if (it->is_directory(error)) ids.push_back(it->path().filename().string());
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<std::string> appIdsOf(const CliOptions& options) {
  std::vector<std::string> ids;
  for (const auto& app : options.apps) ids.push_back(app.appId);
  return ids;
}

}  // namespace

void addAll(LiveUpdateManager& manager, const CliOptions& options) {
  for (const auto& app : options.apps) {
    std::optional<std::filesystem::path> existingCache;
    if (auto found = options.existingCaches.find(app.appId);
        found != options.existingCaches.end()) {
      existingCache = found->second;
    }
    manager.add(app.liveUpdate(), existingCache);
  }
}

std::shared_ptr<LiveUpdateManager> makeManager(const CliOptions& options) {
  std::optional<std::filesystem::path> container;
  if (options.dataDir) container = std::filesystem::absolute(*options.dataDir);
  configureHost({.bundleIdentifier = options.bundleId,
                 .shortVersionString = options.bundleVersion,
                 .containerRoot = container});
  configureDeployService({.baseUrl = options.server, .caFile = options.caFile});
  std::shared_ptr<LiveUpdateManager> manager;
  if (options.publicKey) {
    auto secure = std::make_shared<SecureLiveUpdateManager>(*options.name, *options.publicKey,
                                                            options.maxVersions);
    secure->requireReleaseClaims(options.requireClaims);
    manager = std::move(secure);
  } else if (options.name) {
    manager =
        std::make_shared<LiveUpdateManager>(*options.name, options.maxVersions, !options.quiet);
  } else {
    manager = LiveUpdateManager::shared();
    manager->setMaxVersions(options.maxVersions);
  }
  manager->setLoggingEnabled(!options.quiet);
  if (options.shareUnchanged) {
    auto limits = manager->limits();
    limits.shareUnchangedFiles = true;
    manager->setLimits(limits);
  }
  return manager;
}

int runSync(LiveUpdateManager& manager, const CliOptions& options) {
  addAll(manager, options);
  const auto appIds = appIdsOf(options);
  std::optional<ProgressBoard> board;
  if (wantsProgressBars()) {
    board.emplace(appIds);
    manager.setProgressHandler([&board](const auto& progress) { board->update(progress); });
  }
  auto outcome = manager.sync(appIds).get();
  if (board) {
    manager.setProgressHandler({});
    board->finish();
  }

  bool allSucceeded = true;
  for (const auto& appId : appIds) {
    auto byApp = [&](const auto& item) { return item.appId == appId; };
    auto result = std::find_if(outcome.results.begin(), outcome.results.end(),
                               [&](const auto& r) { return r.appId() == appId; });
    auto error = std::find_if(outcome.errors.begin(), outcome.errors.end(), byApp);
    if (result != outcome.results.end()) {
      printLine(successLine(*result, manager.latestAppDirectory(appId)));
    } else {
      allSucceeded = false;
      if (error != outcome.errors.end()) printLine(failureLine(*error));
    }
  }
  return allSucceeded ? 0 : kExitFailure;
}

int runDir(LiveUpdateManager& manager, const CliOptions& options) {
  // The path is the whole output (scripts read it with $(...)): registering the app may
  // trim old versions, which the manager would otherwise log.
  manager.setLoggingEnabled(false);
  addAll(manager, options);
  auto directory = manager.latestAppDirectory(options.apps.front().appId);
  if (!directory) return kExitNothing;
  printLine(directory->string());
  return 0;
}

int runLastSync(LiveUpdateManager& manager, const CliOptions& options) {
  const auto appIds = options.apps.empty() ? cachedAppIds() : appIdsOf(options);
  std::optional<Date> latest;
  for (const auto& appId : appIds) latest = std::max(latest, manager.lastSync(appId));
  if (!latest) return kExitNothing;
  printLine(isoTime(*latest));
  return 0;
}

int runClean(LiveUpdateManager& manager, const CliOptions& options) {
  addAll(manager, options);
  for (const auto& appId : options.apps.empty() ? cachedAppIds() : appIdsOf(options)) {
    manager.cleanVersions(appId);
  }
  return 0;
}

int runReset(LiveUpdateManager& manager, const CliOptions& options) {
  manager.reset(options.retainCache);
  return 0;
}

}  // namespace qelvo::cli
