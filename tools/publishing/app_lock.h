// AppLock: keeps two publishers from changing one app at the same time (a channel's
// history is read, changed and written back). An advisory lock on <app>/.lock, held
// for the lifetime of the object; readers (the deploy server) never take it.
//
//   auto lock = AppLock::acquire(root.appDirectory("kiosk"));  // waits for another publisher
//   if (!lock) return std::unexpected(lock.error());
#pragma once

#include <expected>
#include <filesystem>
#include <string>

#include "toolkit/toolkit.h"

namespace qelvo::publishing {

class AppLock {
 public:
  // Creates the app directory when missing, then waits for the lock.
  static std::expected<AppLock, std::string> acquire(const std::filesystem::path& appDirectory);

 private:
  explicit AppLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // closing it releases the lock
};

}  // namespace qelvo::publishing
