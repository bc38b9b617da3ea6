// The progress bars of qelvo-live-update, drawn into a file instead of a terminal.
#include "progress_board.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qelvo::test {
namespace {

using Progress = LiveUpdateManager::SyncProgress;
using Phase = Progress::Phase;

Progress progress(std::string appId, Phase phase, std::uint64_t done = 0,
                  std::optional<std::uint64_t> expected = std::nullopt, bool files = false) {
  Progress progress;
  progress.appId = std::move(appId);
  progress.phase = phase;
  (files ? progress.filesDone : progress.bytesDone) = done;
  (files ? progress.filesExpected : progress.bytesExpected) = expected;
  return progress;
}

// What a board of `apps` draws for `updates` (then finish(), when `finish`).
std::string drawn(const std::vector<std::string>& apps, const std::vector<Progress>& updates,
                  bool finish) {
  TempDir dir;
  const auto file = dir / "terminal";
  {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> out(std::fopen(file.c_str(), "w"),
                                                           std::fclose);
    cli::ProgressBoard board(apps, out.get());
    for (const auto& update : updates) board.update(update);
    if (finish) board.finish();
  }
  return readFile(file);
}

TEST(ProgressBoard, DrawsOneBarPerAppInPlaceAndClearsTheLineAtTheEnd) {
  EXPECT_EQ(drawn({"shop", "menu"},
                  {progress("shop", Phase::download, 50, 100),
                   progress("shop", Phase::download, 60, 100),
                   progress("menu", Phase::copy, 1, 4, /*files=*/true),
                   progress("shop", Phase::done)},
                  true),
            "\r\x1b[K"
            "shop [######------] 50% download  menu waiting\r"
            // 60% comes within the redraw interval of the same phase: drawn with the next.
            "\r\x1b[K"
            "shop [#######-----] 60% download  menu [###---------] 25% copy\r"
            "\r\x1b[K"
            "shop [############] 100% done  menu [###---------] 25% copy\r"
            "\r\x1b[K");
  // Unknown sizes show the bytes so far.
  EXPECT_EQ(drawn({"shop"}, {progress("shop", Phase::download, 3 * 1024 * 1024)}, false),
            "\r\x1b[Kshop [------------] download 3.0 MB\r");
}

}  // namespace
}  // namespace qelvo::test
