// JSON forms of the stored records. Dates are numbers of seconds (with fraction)
// since 2001-01-01 00:00:00 UTC. Decoding is strict: a missing required key or a
// wrong type fails the whole decode; optional keys are left out when absent.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "qelvo/errors.h"
#include "qelvo/records.h"

namespace qelvo {

// Seconds since 2001-01-01 00:00:00 UTC, and back.
double referenceSeconds(Date date);
Date dateFromReferenceSeconds(double seconds);

std::string encodeApp(const QelWebApp& app);
std::expected<QelWebApp, DecodingError> decodeApp(std::string_view json);

}  // namespace qelvo
