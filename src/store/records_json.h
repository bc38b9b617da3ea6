// JSON forms of the stored records. Dates are numbers of seconds (with fraction)
// since 2001-01-01 00:00:00 UTC. Decoding is strict: a missing required key or a
// wrong type fails the whole decode; optional keys are left out when absent.
//
//   QelWebApp app{.id = "a1", .lastSync = std::nullopt};
//   encodeApp(app);  // {"id":"a1","channels":[],"snapshots":[]}
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "platform/json.h"
#include "qelvo/errors.h"
#include "qelvo/records.h"

namespace qelvo {

// Seconds since 2001-01-01 00:00:00 UTC, and back. A double carries about a tenth of
// a microsecond at present-day dates, so decoded dates are rounded to the microsecond:
// a date read back equals the written one up to that precision. No date when the
// number is not finite or lies beyond what a Date can hold.
double referenceSeconds(Date date);
std::optional<Date> dateFromReferenceSeconds(double seconds);
// The date under `key` of a JSON object; fails when it is absent, not a number or out
// of range (`path` names the object in the message).
std::expected<Date, DecodingError> decodeDate(const json::Json& object, std::string_view key,
                                              const std::string& path);

// The compact JSON of a record ("id", "channels", "snapshots", "last_sync"). Channels
// and snapshots are written in order of id, so equal records give equal bytes. Fails
// when a string is not valid UTF-8.
std::expected<std::string, EncodingError> encodeApp(const QelWebApp& app);
std::expected<QelWebApp, DecodingError> decodeApp(std::string_view json);

}  // namespace qelvo
