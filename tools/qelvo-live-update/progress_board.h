// Progress bars for a sync on a terminal: one bar per app, side by side on one line of
// standard error, redrawn in place a few times a second.
//
//   ProgressBoard board({"kiosk", "menu"});
//   manager->setProgressHandler([&](const auto& progress) { board.update(progress); });
//   ... sync ...
//   board.finish();
//
// The manager's own log lines go to standard output on the same terminal; the board
// leaves the cursor at the start of its line, so a log line simply takes its place and
// the next redraw comes below it.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "qelvo/live_update_manager.h"

namespace qelvo::cli {

// Whether bars belong on this terminal: standard output and standard error are both
// terminals (never when output goes to a file or a pipe).
bool wantsProgressBars();

class ProgressBoard {
 public:
  explicit ProgressBoard(std::vector<std::string> appIds, std::FILE* out = stderr);
  // Safe from any thread.
  void update(const LiveUpdateManager::SyncProgress& progress);
  // Clears the line.
  void finish();

 private:
  std::string render() const;
  void draw();

  std::vector<std::string> appIds_;
  std::FILE* out_;
  std::mutex mutex_;
  std::map<std::string, LiveUpdateManager::SyncProgress> progress_;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace qelvo::cli
