// Standard output shared by every thread of the library: each call prints one whole
// line, never interleaved with another thread's line.
#pragma once

#include <string_view>

namespace qelvo {

void printLine(std::string_view line);

}  // namespace qelvo
