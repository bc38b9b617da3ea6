// Construction of managers, the registry of applications, and the questions a host
// asks about them (apps, lastSync, latestAppDirectory).
#include "qelvo/live_update_manager.h"

#include <algorithm>
#include <cerrno>

#include "client/live_updates_client.h"
#include "base/logger.h"
#include "base/path_safety.h"
#include "sync/sync_executor.h"
#include "sync/sync_task.h"
#include "platform/host.h"
#include "retrieval/file_manager_util.h"
#include "retrieval/work_area.h"
#include "store/app_store.h"
#include "store/check_times.h"
#include "store/record_lookup.h"

namespace qelvo {
namespace {

void requireShortVersionString() {
  if (!platform::shortVersionString()) {
    throw ConfigurationError("No short version string for current bundle?");
  }
}

}  // namespace

const std::shared_ptr<LiveUpdateManager>& LiveUpdateManager::shared() {
  static const std::shared_ptr<LiveUpdateManager> manager = std::make_shared<LiveUpdateManager>(
      openSharedStore(), LiveUpdatesClient::live(), std::make_shared<FileManagerUtil>());
  return manager;
}

LiveUpdateManager::LiveUpdateManager(const std::string& named, int maxVersions,
                                     bool loggingEnabled)
    : LiveUpdateManager(openNamedStore(named), LiveUpdatesClient::live(),
                        std::make_shared<FileManagerUtil>()) {
  setMaxVersions(maxVersions);
  setLoggingEnabled(loggingEnabled);
}

LiveUpdateManager::LiveUpdateManager(std::shared_ptr<KeyValueSuite> userDefaults,
                                     std::shared_ptr<const LiveUpdatesClient> httpClient,
                                     std::shared_ptr<FileManagerUtilProtocol> fileManagerUtil)
    : logTag_("LiveUpdateManager"),
      userDefaults_(std::move(userDefaults)),
      client_(std::move(httpClient)),
      fileManager_(std::move(fileManagerUtil)),
      executor_(SyncExecutor::shared()) {
  requireShortVersionString();
}

LiveUpdateManager::~LiveUpdateManager() = default;

bool LiveUpdateManager::loggingEnabled() const {
  std::lock_guard lock(loggerMutex_);
  return loggingEnabled_;
}

void LiveUpdateManager::setLoggingEnabled(bool enabled) {
  std::lock_guard lock(loggerMutex_);
  loggingEnabled_ = enabled;
}

int LiveUpdateManager::maxVersions() const { return maxVersions_; }

void LiveUpdateManager::setMaxVersions(int maxVersions) { maxVersions_ = maxVersions; }

LiveUpdateManager::Limits LiveUpdateManager::limits() const {
  std::lock_guard lock(limitsMutex_);
  return limits_;
}

void LiveUpdateManager::setLimits(const Limits& limits) {
  std::lock_guard lock(limitsMutex_);
  limits_ = limits;
}

std::shared_ptr<QelvoLogger> LiveUpdateManager::logger() const {
  std::lock_guard lock(loggerMutex_);
  if (!logger_) logger_ = std::make_shared<QelvoLogger>(loggingEnabled_);
  return logger_;
}

void LiveUpdateManager::setLogger(std::shared_ptr<QelvoLogger> logger) {
  std::lock_guard lock(loggerMutex_);
  logger_ = std::move(logger);
}

void LiveUpdateManager::log(const std::string& message) const { logger()->log(logTag_, message); }

std::string LiveUpdateManager::currentBinaryVersion() const {
  // The host identity, not the store: reading it must not take a write transaction.
  auto version = platform::shortVersionString();
  if (!version) throw ConfigurationError("No short version string for current bundle?");
  return std::move(*version);
}

std::string LiveUpdateManager::deviceIdentifier() const {
  std::lock_guard lock(deviceIdentifierMutex_);
  if (!deviceIdentifier_) deviceIdentifier_ = qelvo::deviceIdentifier(*userDefaults_);
  return *deviceIdentifier_;
}

std::unordered_map<std::string, LiveUpdate> LiveUpdateManager::apps() const {
  return instances_.contents();
}

void LiveUpdateManager::add(const LiveUpdate& liveUpdate,
                            std::optional<std::filesystem::path> existingCacheUrl) {
  // The id becomes a directory name; one that could name another directory is refused
  // before anything is registered.
  if (!isSafePathComponent(liveUpdate.appId)) {
    throw FileOperationError::ioError(
        PlatformError("posix", EINVAL, "Invalid application id \"" + liveUpdate.appId + "\""));
  }
  const auto& appId = liveUpdate.appId;
  instances_.set(appId, liveUpdate);
  if (liveUpdate.strategy == LiveUpdate::Strategy::differential) {
    existingCaches_.set(appId, std::move(existingCacheUrl));
  }
  registerApp(liveUpdate);
  if (!fileManager_->appDirectory(appId)) {
    if (auto created = fileManager_->createAppDirectory(appId); !created) throw created.error();
  }
  cleanVersions(appId);
  if (liveUpdate.syncOnAdd) sync(appId, [](std::expected<SyncResult, SyncError>) {});
}

void LiveUpdateManager::add(const std::vector<LiveUpdate>& liveUpdates) {
  for (const auto& liveUpdate : liveUpdates) add(liveUpdate);
}

void LiveUpdateManager::registerApp(const LiveUpdate& liveUpdate) {
  updateApp(*userDefaults_, liveUpdate.appId, [&](std::optional<QelWebApp>& app) {
    const bool added = !app;
    if (!app) app = QelWebApp{liveUpdate.appId, {}, {}, std::nullopt};
    // Keeps an existing one; a registration that changes nothing writes nothing.
    return app->channels.insert(Channel{liveUpdate.channel, std::nullopt}).second || added;
  });
}

void LiveUpdateManager::reset(bool retainCache) {
  if (!retainCache) {
    // Only what this manager's records name goes, and not what another manager's
    // records name as well: the cache is shared by every manager of the container.
    std::optional<FileOperationError> failure;
    for (const auto& appId : recordedAppIds(*userDefaults_)) {
      updateApp(*userDefaults_, appId, [&](std::optional<QelWebApp>& app) {
        if (!app) return false;
        for (const auto& snapshot : app->snapshots) {
          auto removed = removeUnsharedSnapshotDirectory(appId, snapshot.id);
          if (!removed && !failure) failure = removed.error();
        }
        app->snapshots.clear();
        decltype(app->channels) channels;
        for (const auto& channel : app->channels) channels.insert(Channel{channel.id, std::nullopt});
        app->channels = std::move(channels);
        return true;
      });
    }
    // And what interrupted syncs left, when no sync is running.
    WorkAreaLease::acquire(platform::temporaryDirectory(), fileManager_->liveUpdatesUrl());
    if (failure) throw *failure;
    for (const auto& [appId, liveUpdate] : instances_) {
      if (auto created = fileManager_->createAppDirectory(appId); !created) throw created.error();
    }
  }
  // A manager clears its own suite: a named manager's records live there, and clearing
  // the shared suite instead would wipe another manager's state.
  clearSuite(*userDefaults_, userDefaults_->suiteName());
  {
    // The identifier went with the suite; the next check makes a new one.
    std::lock_guard lock(deviceIdentifierMutex_);
    deviceIdentifier_.reset();
  }
  for (const auto& [appId, liveUpdate] : instances_) registerApp(liveUpdate);
}

std::optional<Date> LiveUpdateManager::lastSync(const std::string& appId) const {
  auto app = getApp(*userDefaults_, appId);
  return app ? app->lastSync : std::nullopt;
}

std::optional<Date> LiveUpdateManager::lastCheck(const std::string& appId) const {
  return qelvo::lastCheck(*userDefaults_, appId);
}

std::optional<Date> LiveUpdateManager::lastSync(const LiveUpdate& liveUpdate) const {
  return LiveUpdateManager::lastSync(liveUpdate.appId);
}

std::optional<Date> LiveUpdateManager::lastSync() const {
  std::optional<Date> latest;
  for (const auto& [appId, liveUpdate] : instances_) {
    if (auto app = getApp(*userDefaults_, appId)) latest = std::max(latest, app->lastSync);
  }
  return latest;
}

std::optional<std::filesystem::path> LiveUpdateManager::latestAppDirectory(
    const std::string& appId) const {
  auto liveUpdate = instances_.get(appId);
  if (!liveUpdate) return std::nullopt;
  auto app = getApp(*userDefaults_, appId);
  if (!app) return std::nullopt;
  auto channel = findChannel(*app, liveUpdate->channel);
  if (!channel || !channel->currentSnapshot) return std::nullopt;
  return fileManager_->snapshotDirectory(appId, channel->currentSnapshot->id);
}

std::optional<std::filesystem::path> LiveUpdateManager::latestAppDirectory(
    const LiveUpdate& liveUpdate) const {
  return LiveUpdateManager::latestAppDirectory(liveUpdate.appId);
}

}  // namespace qelvo
