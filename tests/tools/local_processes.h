// Programs and ports of tests that run servers as processes of their own on loopback
// (nginx, deploy server instances), which support/background_process.h starts.
#pragma once

#include <optional>
#include <string>

namespace qelvo::test {

// A port on 127.0.0.1 that nothing listens on right now.
int freePort();
// Whether something accepts connections on 127.0.0.1:`port`.
bool accepts(int port);
// The first executable named `name` on PATH or in the system directories.
std::optional<std::string> findProgram(const std::string& name);

}  // namespace qelvo::test
