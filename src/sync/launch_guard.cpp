// The launch guard: launches of an application are recorded before the host loads
// anything, a snapshot that keeps failing to start is given up, and the channel returns
// to the last snapshot that did start. Every decision is taken in one transaction of
// the application's record and its launch record, so a crash at any moment leaves
// either the state before it or the state after it.
#include <algorithm>
#include <chrono>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/sync_errors.h"
#include "platform/host.h"
#include "qelvo/configuration.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/file_manager_util.h"
#include "store/launch_store.h"
#include "store/record_lookup.h"

namespace qelvo {
namespace {

using Status = LaunchState::Status;

constexpr std::size_t kMaxReasonBytes = 1000;

// The host's text as a record keeps it: bytes that are not UTF-8 replaced, at most
// kMaxReasonBytes, cut between two characters.
std::string storedReason(const std::string& reason, const char* fallback) {
  if (reason.empty()) return fallback;
  using Json = nlohmann::json;
  auto text = Json::parse(Json(reason).dump(-1, ' ', false, Json::error_handler_t::replace))
                  .get<std::string>();
  if (text.size() <= kMaxReasonBytes) return text;
  std::size_t cut = kMaxReasonBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

std::string destinationText(const std::optional<Snapshot>& destination) {
  return destination ? "snapshot " + destination->id : std::string("its embedded copy");
}

// A snapshot given up, to be logged once the transaction is over.
struct GivenUp {
  std::string snapshotId;
  std::string reason;
  std::optional<Snapshot> destination;
};

// The channel's current snapshot, when its directory is on disk (what latestAppDirectory
// would name).
std::optional<std::string> launchableSnapshot(const FileManagerUtilProtocol& files,
                                              const QelWebApp& app, const std::string& channelId) {
  auto channel = findChannel(app, channelId);
  if (!channel || !channel->currentSnapshot) return std::nullopt;
  const auto& id = channel->currentSnapshot->id;
  if (!files.snapshotDirectory(app.id, id)) return std::nullopt;
  return id;
}

// Marks `snapshotId` failed and moves every channel that uses it to the last confirmed
// snapshot, when that one is still recorded and holds files, else to none. Returns the
// failure as it is to be logged.
GivenUp giveUp(const FileManagerUtilProtocol& files, std::optional<QelWebApp>& app,
               LaunchRecord& launch, const std::string& snapshotId, std::string reason, Date now) {
  std::erase_if(launch.failed,
                [&](const auto& failure) { return failure.snapshotId == snapshotId; });
  launch.failed.push_back(FailedSnapshot{snapshotId, now, reason});
  if (launch.failed.size() > LaunchRecord::kMaxFailedSnapshots) {
    launch.failed.erase(launch.failed.begin());
  }
  if (launch.confirmedSnapshot == snapshotId) launch.confirmedSnapshot.reset();

  GivenUp givenUp{snapshotId, std::move(reason), std::nullopt};
  if (!app) return givenUp;
  if (launch.confirmedSnapshot) {
    auto confirmed = findSnapshot(*app, *launch.confirmedSnapshot);
    auto directory = confirmed ? files.snapshotDirectory(app->id, confirmed->id) : std::nullopt;
    if (directory && files.directoryHasContents(*directory)) {
      confirmed->lastUsed = now;
      app->snapshots.erase(*confirmed);
      app->snapshots.insert(*confirmed);
      givenUp.destination = std::move(confirmed);
    }
  }
  decltype(app->channels) channels;
  for (auto channel : app->channels) {
    if (channel.currentSnapshot && channel.currentSnapshot->id == snapshotId) {
      channel.currentSnapshot = givenUp.destination;
    }
    channels.insert(std::move(channel));
  }
  app->channels = std::move(channels);
  return givenUp;
}

// The stored result of a launch-record change, or the error thrown to the host.
bool storedOrThrow(const std::expected<bool, Error>& stored) {
  if (!stored) stored.error().raise();
  return *stored;
}

}  // namespace

LaunchAttempt LiveUpdateManager::beginLaunch(const std::string& appId) {
  auto liveUpdate = instances_.get(appId);
  if (!liveUpdate) {
    throw ConfigurationError("Application " + appId +
                             " has not been registered with LiveUpdateManager");
  }
  const int bound = maxUnconfirmedLaunches();
  const Date now = std::chrono::system_clock::now();
  LaunchAttempt attempt{platform::randomUuid(), std::nullopt, std::nullopt, std::nullopt};
  std::optional<GivenUp> givenUp;
  const bool stored = storedOrThrow(updateAppAndLaunch(
      *userDefaults_, appId, [&](std::optional<QelWebApp>& app, LaunchRecord& launch) {
        givenUp.reset();
        auto current =
            app ? launchableSnapshot(*fileManager_, *app, liveUpdate->channel) : std::nullopt;
        const auto& last = launch.attempt;
        auto repeats = [&] {
          return last && last->snapshotId == current && last->status == Status::started;
        };
        // The last confirmed snapshot has started here before: it is never given up for
        // failing to start, as there is nothing known to be better to return to.
        if (current && repeats() && last->unconfirmedLaunches >= bound &&
            launch.confirmedSnapshot != current) {
          givenUp = giveUp(*fileManager_, app, launch, *current,
                           "Launched " + std::to_string(last->unconfirmedLaunches) +
                               " times without a confirmation",
                           now);
          current = launchableSnapshot(*fileManager_, *app, liveUpdate->channel);
        }
        // Saturating: a count this high has long given the snapshot up, or it is the
        // confirmed one, which is never given up.
        constexpr int kMost = std::numeric_limits<int>::max();
        const int unconfirmed = repeats() ? std::min(last->unconfirmedLaunches, kMost - 1) + 1 : 1;
        launch.attempt =
            LaunchState::Attempt{attempt.id, current, now, Status::started, unconfirmed};
        attempt.snapshotId = current;
        return true;
      }));
  if (!stored) throw EncodingError("The launch of application " + appId + " could not be recorded");
  if (givenUp) {
    attempt.rolledBackFrom = givenUp->snapshotId;
    log("Snapshot " + givenUp->snapshotId + " of app " + appId + " failed to launch: " +
        givenUp->reason + ". Returning to " + destinationText(givenUp->destination));
  }
  if (attempt.snapshotId)
    attempt.directory = fileManager_->snapshotDirectory(appId, *attempt.snapshotId);
  return attempt;
}

bool LiveUpdateManager::confirmLaunch(const std::string& appId, const std::string& attemptId) {
  bool confirmed = false;
  storedOrThrow(updateAppAndLaunch(
      *userDefaults_, appId, [&](std::optional<QelWebApp>& app, LaunchRecord& launch) {
        auto& last = launch.attempt;
        if (!last || last->id != attemptId || last->status == Status::bad) return false;
        confirmed = true;
        if (last->status == Status::confirmed) return false;
        last->status = Status::confirmed;
        last->unconfirmedLaunches = 0;
        // A snapshot trimmed since its launch is no place to return to: the previous
        // confirmed one stays the fallback then.
        if (last->snapshotId && app && findSnapshot(*app, *last->snapshotId)) {
          launch.confirmedSnapshot = last->snapshotId;
        }
        return true;
      }));
  return confirmed;
}

bool LiveUpdateManager::reportBadLaunch(const std::string& appId, const std::string& attemptId,
                                        const std::string& reason) {
  const Date now = std::chrono::system_clock::now();
  const std::string text = storedReason(reason, "Reported bad by the host");
  bool reported = false;
  std::optional<GivenUp> givenUp;
  storedOrThrow(updateAppAndLaunch(
      *userDefaults_, appId, [&](std::optional<QelWebApp>& app, LaunchRecord& launch) {
        givenUp.reset();
        auto& last = launch.attempt;
        reported = last && last->id == attemptId && last->status != Status::bad;
        if (!reported) return false;
        last->status = Status::bad;
        if (last->snapshotId)
          givenUp = giveUp(*fileManager_, app, launch, *last->snapshotId, text, now);
        return true;
      }));
  if (givenUp) {
    log("Launch " + attemptId + " of snapshot " + givenUp->snapshotId + " of app " + appId +
        " reported bad: " + givenUp->reason + ". Returning to " +
        destinationText(givenUp->destination));
  }
  return reported;
}

LaunchState LiveUpdateManager::launchState(const std::string& appId) const {
  auto liveUpdate = instances_.get(appId);
  LaunchState state;
  // Read in one transaction, so the snapshots named agree with each other.
  (void)updateAppAndLaunch(
      *userDefaults_, appId, [&](std::optional<QelWebApp>& app, LaunchRecord& launch) {
        auto channel = (app && liveUpdate) ? findChannel(*app, liveUpdate->channel) : std::nullopt;
        if (channel && channel->currentSnapshot)
          state.currentSnapshot = channel->currentSnapshot->id;
        state.confirmedSnapshot = launch.confirmedSnapshot;
        state.failedSnapshots = launch.failed;
        state.lastAttempt = launch.attempt;
        return false;
      });
  return state;
}

int LiveUpdateManager::maxUnconfirmedLaunches() const { return maxUnconfirmedLaunches_; }

void LiveUpdateManager::setMaxUnconfirmedLaunches(int launches) {
  maxUnconfirmedLaunches_ = std::max(1, launches);
}

std::optional<SyncError> LiveUpdateManager::failedLaunchRefusal(const std::string& appId,
                                                                const std::string& snapshotId,
                                                                SyncError::FailStep step) const {
  const auto launch = getLaunch(*userDefaults_, appId);
  const auto* failure = launch.failure(snapshotId);
  if (!failure) return std::nullopt;
  log("Snapshot " + snapshotId + " for app " + appId + " failed to launch on this device (" +
      failure->reason + "). Not applying it again");
  return metadataError(
      appId, step,
      "Snapshot " + snapshotId + " of application " + appId +
          " failed to launch on this device and is not applied again: " + failure->reason);
}

}  // namespace qelvo
