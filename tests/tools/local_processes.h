// Programs and ports of tests that run servers as processes of their own on loopback
// (nginx, deploy server instances), which support/background_process.h starts.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "support/background_process.h"

namespace qelvo::test {

// A port on 127.0.0.1 that nothing listens on right now.
int freePort();
// Whether something accepts connections on 127.0.0.1:`port`.
bool accepts(int port);
// The first executable named `name` on PATH or in the system directories.
std::optional<std::string> findProgram(const std::string& name);
// nginx listening on 127.0.0.1:`port` with `http` inside its http block, its prefix,
// pid, logs ("error.log") and temporary paths in `dir`; null when nginx is not
// installed. Returns once the port accepts connections or nginx has ended.
std::unique_ptr<BackgroundProcess> startNginx(const std::filesystem::path& dir,
                                              const std::string& http, int port);

}  // namespace qelvo::test
