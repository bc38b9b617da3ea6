// When each application last heard from the deploy service (a check that answered,
// update or not), under "LiveUpdateLastCheck-<appId>" in the manager's suite, as seconds
// since 2001-01-01 UTC. A device that a server silently stopped updating shows it: its
// last check stays old while its last sync may be older still.
//
// Written at most once per `resolution`, so that a check that finds nothing new costs no
// store write most of the time.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/key_value_store.h"
#include "qelvo/records.h"

namespace qelvo {

std::optional<Date> lastCheck(const KeyValueSuite& store, const std::string& appId);

// Records `now` as the last check unless the one recorded is less than `resolution`
// older. Failures are printed.
void noteCheck(KeyValueSuite& store, const std::string& appId, Date now,
               std::chrono::seconds resolution);

}  // namespace qelvo
