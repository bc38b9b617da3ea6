// The application metadata store: one JSON record per application and the device
// identifier, kept in a key-value suite per manager.
//
// Suites: "<bundle id>-LiveUpdates" for the shared manager, and
// "<bundle id>-LiveUpdates-<name>" for a manager created with a name. Keys:
// "LiveUpdateApp-<appId>" (the record's UTF-8 JSON) and "LiveUpdateUUID".
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/key_value_store.h"
#include "qelvo/records.h"

namespace qelvo {

// The shared suite's name, computed once per process. Throws ConfigurationError
// "No bundle id for current bundle?" without a bundle identifier.
const std::string& sharedSuiteName();

// The store of the shared manager, opened once per process. Throws ConfigurationError
// ("No bundle id for current bundle?", "Unable to load user defaults for LiveUpdates").
std::shared_ptr<KeyValueSuite> openSharedStore();

// A new store object for a named manager. Throws ConfigurationError
// ("No bundle id for current bundle?", "Unable to create UserDefaults for <name>").
std::shared_ptr<KeyValueSuite> openNamedStore(const std::string& name);

// Stores the record under "LiveUpdateApp-<id>". Failures are printed, never reported.
void saveApp(KeyValueSuite& store, const QelWebApp& app);

// The stored record; none when absent, or when it does not decode ("Error getting App"
// is printed then, and the bytes are left in place).
std::optional<QelWebApp> getApp(const KeyValueSuite& store, const std::string& appId);

// The device identifier of the store, created and stored on first read.
std::string deviceIdentifier(KeyValueSuite& store);

// Removes every record and the device identifier of the suite named `suiteName`.
void clearSuite(KeyValueSuite& store, const std::string& suiteName);

}  // namespace qelvo
