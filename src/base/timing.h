// Wall-clock helpers for the duration lines of the log.
#pragma once

#include <string>

namespace qelvo {

// The current time as seconds since 1970.
double secondsSince1970();

// A double in its shortest round-trip decimal form, always with a fraction or an
// exponent ("0.25", "3.0", "1e-05").
std::string formatSeconds(double seconds);

// formatSeconds(now - start).
std::string elapsedSince(double start);

}  // namespace qelvo
