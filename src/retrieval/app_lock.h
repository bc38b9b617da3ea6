// One sync of an application at a time, across managers and processes: an exclusive
// flock on the application's directory, held while the sync runs. A second sync of the
// application waits for the first (it then usually finds the snapshot in the cache).
//
//   auto lock = AppLock::acquire(applicationDirectory, std::chrono::seconds(60), stop);
//   if (!lock) report(lock.error());   // AppLock::Failure
#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <stop_token>

#include "base/unique_fd.h"

namespace qelvo {

class AppLock {
 public:
  enum class Failure { timedOut, cancelled };

  // Waits at most `patience` for the lock; a stop request ends the wait. A directory
  // that cannot be opened gives a lock that holds nothing: the sync then meets the
  // missing directory itself and fails there.
  static std::expected<AppLock, Failure> acquire(const std::filesystem::path& applicationDirectory,
                                                 std::chrono::milliseconds patience,
                                                 std::stop_token stop);

 private:
  explicit AppLock(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // closing it releases the lock
};

}  // namespace qelvo
