#include "store/app_store.h"

#include "platform/host.h"
#include "base/output.h"
#include "qelvo/configuration.h"
#include "store/records_json.h"

namespace qelvo {
namespace {

constexpr const char* kAppKeyPrefix = "LiveUpdateApp-";
constexpr const char* kDeviceIdentifierKey = "LiveUpdateUUID";

// Opens `suiteName` in the metadata database, or throws `failure`. The cause is printed
// first, as the fixed message alone would not tell a host what went wrong.
std::shared_ptr<KeyValueSuite> openSuiteOrThrow(const std::string& suiteName,
                                                const std::string& failure) {
  std::filesystem::path path;
  try {
    path = metadataDatabasePath();
  } catch (const ConfigurationError& e) {
    printLine(e.what());
    throw ConfigurationError(failure);
  }
  auto suite = KeyValueSuite::open(path, suiteName);
  if (!suite) {
    printLine(suite.error().description);
    throw ConfigurationError(failure);
  }
  return std::move(*suite);
}

// A stored record's bytes as a record: none when absent, or when they do not decode
// ("Error getting App" is printed then).
std::optional<QelWebApp> decodeStored(const std::optional<std::string>& bytes) {
  if (!bytes) return std::nullopt;
  auto decoded = decodeApp(*bytes);
  if (!decoded) {
    printLine("Error getting App");
    return std::nullopt;
  }
  return std::move(*decoded);
}

// A record's bytes to store; none when it cannot be encoded ("Error saving App").
std::optional<std::string> encodeToStore(const QelWebApp& app) {
  auto json = encodeApp(app);
  if (!json) {
    printLine("Error saving App");
    return std::nullopt;
  }
  return std::move(*json);
}

// The one writer of records: `change` sees the stored record (when `readStored`) and
// its result is stored in the same transaction.
bool writeApp(KeyValueSuite& store, const std::string& appId, const AppChange& change,
              bool readStored) {
  bool stored = false;
  auto updated = store.updateData(
      kAppKeyPrefix + appId, [&](std::optional<std::string> bytes) -> std::optional<std::string> {
        std::optional<QelWebApp> app;
        if (readStored) app = decodeStored(bytes);
        if (!change(app) || !app) return std::nullopt;
        auto json = encodeToStore(*app);
        stored = json.has_value();
        return json;
      });
  if (!updated) {
    printLine(updated.error().description);
    return false;
  }
  return stored;
}

}  // namespace

std::filesystem::path metadataDatabasePath() {
  return platform::libraryDirectory() / "Preferences" / "live-updates.sqlite3";
}

const std::string& sharedSuiteName() {
  // A throwing initialiser leaves the name uncomputed, so a later call tries again.
  static const std::string name = platform::bundleIdentifier() + "-LiveUpdates";
  return name;
}

std::shared_ptr<KeyValueSuite> openSharedStore() {
  static const std::shared_ptr<KeyValueSuite> store =
      openSuiteOrThrow(sharedSuiteName(), "Unable to load user defaults for LiveUpdates");
  return store;
}

std::shared_ptr<KeyValueSuite> openNamedStore(const std::string& name) {
  auto suiteName = platform::bundleIdentifier() + "-LiveUpdates-" + name;
  return openSuiteOrThrow(suiteName, "Unable to create UserDefaults for " + name);
}

bool updateApp(KeyValueSuite& store, const std::string& appId, const AppChange& change) {
  return writeApp(store, appId, change, /*readStored=*/true);
}

std::expected<bool, PlatformError> updateAppAndData(KeyValueSuite& store, const std::string& appId,
                                                    const std::string& key,
                                                    const AppAndDataChange& change) {
  bool stored = false;
  auto updated = store.updateData(
      std::vector<std::string>{kAppKeyPrefix + appId, key},
      [&](std::vector<std::optional<std::string>>& values) {
        auto app = decodeStored(values[0]);
        if (!change(app, values[1])) return false;
        values[0].reset();
        if (app) {
          values[0] = encodeToStore(*app);
          if (!values[0]) return false;
        }
        stored = true;
        return true;
      });
  if (!updated) {
    printLine(updated.error().description);
    return std::unexpected(std::move(updated.error()));
  }
  return stored;
}

void saveApp(KeyValueSuite& store, const QelWebApp& app) {
  writeApp(
      store, app.id,
      [&](std::optional<QelWebApp>& stored) {
        stored = app;
        return true;
      },
      /*readStored=*/false);
}

void forgetSnapshot(KeyValueSuite& store, const std::string& appId, const std::string& snapshotId) {
  updateApp(store, appId, [&](std::optional<QelWebApp>& app) {
    if (!app || !app->snapshots.erase(Snapshot{snapshotId, {}, {}, {}})) return false;
    decltype(app->channels) channels;
    for (auto channel : app->channels) {
      if (channel.currentSnapshot && channel.currentSnapshot->id == snapshotId) {
        channel.currentSnapshot.reset();
      }
      channels.insert(std::move(channel));
    }
    app->channels = std::move(channels);
    return true;
  });
}

bool isSnapshotRecordedElsewhere(const KeyValueSuite& store, const std::string& appId,
                                 const std::string& snapshotId) {
  auto others = store.dataInOtherSuites(kAppKeyPrefix + appId);
  if (!others) {
    printLine(others.error().description);
    return true;
  }
  for (const auto& bytes : *others) {
    auto app = decodeApp(bytes);
    if (app && app->snapshots.contains(Snapshot{snapshotId, {}, {}, {}})) return true;
  }
  return false;
}

std::vector<std::string> recordedAppIds(const KeyValueSuite& store) {
  const std::string prefix = kAppKeyPrefix;
  auto keys = store.keys(prefix);
  if (!keys) {
    printLine(keys.error().description);
    return {};
  }
  std::vector<std::string> ids;
  for (const auto& key : *keys) ids.push_back(key.substr(prefix.size()));
  return ids;
}

std::optional<QelWebApp> getApp(const KeyValueSuite& store, const std::string& appId) {
  auto bytes = store.data(kAppKeyPrefix + appId);
  if (!bytes) {
    printLine(bytes.error().description);
    return std::nullopt;
  }
  return decodeStored(*bytes);
}

std::string deviceIdentifier(KeyValueSuite& store) {
  auto identifier = store.stringOrInsert(kDeviceIdentifierKey, platform::randomUuid);
  if (!identifier) {
    printLine(identifier.error().description);
    return platform::randomUuid();
  }
  return std::move(*identifier);
}

void clearSuite(KeyValueSuite& store, const std::string& suiteName) {
  if (auto cleared = store.removePersistentDomain(suiteName); !cleared) {
    printLine(cleared.error().description);
  }
}

}  // namespace qelvo
