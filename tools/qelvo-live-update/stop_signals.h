// The signals that stop `watch` (SIGTERM from systemd, SIGINT from a terminal), taken
// from a signalfd rather than a handler, so that waiting for the next sync, for a
// running sync and for a signal is one poll on the main thread.
//
//   blockStopSignals();           // first thing in main, before any thread starts
//   auto manager = makeManager(options);
//   StopSignals signals;
//   if (!signals.sleepUntil(next)) return 0;   // stopped while waiting
#pragma once

#include <chrono>

#include "toolkit/toolkit.h"

namespace qelvo::cli {

// Blocks SIGTERM and SIGINT in the calling thread. Threads started afterwards (the
// library's) inherit the mask, so the signals reach no thread and wait in the signalfd.
void blockStopSignals();

class StopSignals {
 public:
  // Throws std::system_error when the signalfd cannot be made.
  StopSignals();

  // Waits until `deadline`; false when a stop signal came first (or had come before).
  bool sleepUntil(std::chrono::steady_clock::time_point deadline);
  // Waits until `fd` is readable (true), or until a stop signal comes (false: the
  // caller stops what `fd` waits for, then waits again, for `fd` alone).
  bool waitFor(int fd);
  bool stopped() const { return stopped_; }

 private:
  // Polls the signalfd (and `fd`, if not -1) for at most `timeoutMs` (-1: no limit);
  // true when `fd` is readable.
  bool poll(int fd, int timeoutMs);

  UniqueFd signals_;
  bool stopped_ = false;
};

}  // namespace qelvo::cli
