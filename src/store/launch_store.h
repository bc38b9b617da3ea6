// Reading and changing an application's launch record (store/launch_records.h). Every
// change goes through one transaction with the application's record, so that giving
// up a snapshot and moving its channel away from it happen together or not at all, and
// a writer of the record (a sync, a trim) always sees the launch record as it stands.
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>

#include "platform/key_value_store.h"
#include "qelvo/error.h"
#include "qelvo/records.h"
#include "store/launch_records.h"

namespace qelvo {

// The launch record of `appId`; an empty one when none is stored, when it does not
// decode ("Error getting launch record" is printed) or when the database cannot be read
// (its error is printed).
LaunchRecord getLaunch(const KeyValueSuite& store, const std::string& appId);

// Reads the application's record and its launch record, lets `change` modify both and,
// when it returns true, stores both in the same immediate transaction. A launch record
// that is still empty and was never stored is not written, so a host that never uses
// the guard never gets one. Returns whether anything was stored, or the database's or
// the encoder's error (also printed).
using AppLaunchChange = std::function<bool(std::optional<QelWebApp>& app, LaunchRecord& launch)>;
std::expected<bool, Error> updateAppAndLaunch(KeyValueSuite& store, const std::string& appId,
                                              const AppLaunchChange& change);

// As updateApp (the same failures, printed the same way), with the launch record read in
// the same transaction for `change` to consult.
using AppChangeSeeingLaunch =
    std::function<bool(std::optional<QelWebApp>& app, const LaunchRecord& launch)>;
bool updateAppSeeingLaunch(KeyValueSuite& store, const std::string& appId,
                           const AppChangeSeeingLaunch& change);

}  // namespace qelvo
