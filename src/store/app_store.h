// The application metadata store: one JSON record per application and the device
// identifier, kept in a key-value suite per manager.
//
// Suites: "<bundle id>-LiveUpdates" for the shared manager, and
// "<bundle id>-LiveUpdates-<name>" for a manager created with a name. Keys:
// "LiveUpdateApp-<appId>" (the record's UTF-8 JSON) and "LiveUpdateUUID". Every suite
// lives in one database file, {Library}/Preferences/live-updates.sqlite3.
//
//   auto store = openNamedStore("kiosk");
//   saveApp(*store, QelWebApp{.id = "a1"});
//   getApp(*store, "a1");  // the record
//
// Every operation may be called from any thread and any process at once. Every change
// of a record goes through `updateApp` (or `updateAppAndData`, which writes a record kept
// beside it as well), one transaction from the read to the write, so writers of one
// record in any thread or process never lose each other's changes.
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/key_value_store.h"
#include "qelvo/records.h"

namespace qelvo {

// The database file holding every suite: {Library}/Preferences/live-updates.sqlite3.
std::filesystem::path metadataDatabasePath();

// The shared suite's name, computed once per process. Throws ConfigurationError
// "No bundle id for current bundle?" without a bundle identifier.
const std::string& sharedSuiteName();

// The store of the shared manager, opened once per process. Throws ConfigurationError
// ("No bundle id for current bundle?", "Unable to load user defaults for LiveUpdates").
std::shared_ptr<KeyValueSuite> openSharedStore();

// A new store object for a named manager (any text, "" included). Throws
// ConfigurationError ("No bundle id for current bundle?", "Unable to create
// UserDefaults for <name>").
std::shared_ptr<KeyValueSuite> openNamedStore(const std::string& name);

// Reads the record of `appId` (none when absent or when it does not decode), lets
// `change` modify it, and stores it under "LiveUpdateApp-<id>" when `change` returns
// true (the record must then hold a value whose id is `appId`), all in one immediate
// transaction. `change` runs with the store locked: it must be quick (a few renames at
// most) and must not use the store. Failures are printed ("Error getting App" for a
// record that does not decode, "Error saving App" for one that cannot be encoded, the
// database's error otherwise) and leave the stored value as it was. Returns whether
// the changed record was stored.
using AppChange = std::function<bool(std::optional<QelWebApp>& app)>;
bool updateApp(KeyValueSuite& store, const std::string& appId, const AppChange& change);

// As updateApp, with the data under `key` of the same suite read and written in the same
// transaction: for records kept beside the application's that must change together with
// it. `change` sees both and may change both; when it returns true, the record (when it
// holds a value) and the data (when present) are stored. Returns whether they were;
// false when `change` declined or the record could not be encoded ("Error saving App"),
// the database's error (also printed) when it could not be read or written.
using AppAndDataChange =
    std::function<bool(std::optional<QelWebApp>& app, std::optional<std::string>& data)>;
std::expected<bool, PlatformError> updateAppAndData(KeyValueSuite& store, const std::string& appId,
                                                    const std::string& key,
                                                    const AppAndDataChange& change);

// Removes snapshot `snapshotId` from the record of `appId`, and from every channel that
// uses it, in one transaction. A snapshot about to be written again is forgotten first:
// an interrupted write then never leaves the record naming a half-written directory,
// and a trim (which removes only what the record knows) leaves the directory alone.
void forgetSnapshot(KeyValueSuite& store, const std::string& appId, const std::string& snapshotId);

// Whether the record of `appId` in another manager's suite (of the same database) knows
// snapshot `snapshotId`: its directory is then that manager's too, and is neither
// removed nor rewritten on this manager's behalf. True as well when the other records
// cannot be read, so that nothing is removed on a guess. Inside the change of
// `updateApp` it reads within that change's transaction.
bool isSnapshotRecordedElsewhere(const KeyValueSuite& store, const std::string& appId,
                                 const std::string& snapshotId);

// The ids of the applications this suite holds records of.
std::vector<std::string> recordedAppIds(const KeyValueSuite& store);

// Stores the record as it is, replacing whatever is stored (an updateApp that ignores
// the stored record).
void saveApp(KeyValueSuite& store, const QelWebApp& app);

// The stored record; none when absent, or when it does not decode ("Error getting App"
// is printed then, and the bytes are left in place), or when the database cannot be
// read (its error is printed).
std::optional<QelWebApp> getApp(const KeyValueSuite& store, const std::string& appId);

// The device identifier of the store, created and stored on first read. Racing first
// reads, from threads or processes, agree on one identifier. Never fails: when the
// database cannot be written, its error is printed and an identifier that is not
// stored is returned.
std::string deviceIdentifier(KeyValueSuite& store);

// Removes every record and the device identifier of the suite named `suiteName`
// (failures are printed).
void clearSuite(KeyValueSuite& store, const std::string& suiteName);

}  // namespace qelvo
