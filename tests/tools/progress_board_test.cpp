// The progress bars of qelvo-live-update, drawn into a file instead of a terminal.
#include "progress_board.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

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

TEST(ProgressBoard, DrawsOneBarPerAppInPlaceAndClearsTheLineAtTheEnd) {
  TempDir dir;
  const auto file = dir / "terminal";
  std::unique_ptr<std::FILE, decltype(&std::fclose)> out(std::fopen(file.c_str(), "w"),
                                                         std::fclose);
  cli::ProgressBoard board({"shop", "menu"}, out.get());

  board.update(progress("shop", Phase::download, 50, 100));
  board.update(progress("shop", Phase::download, 60, 100));
  board.update(progress("menu", Phase::copy, 1, 4, /*files=*/true));
  board.update(progress("shop", Phase::done));
  board.finish();
  out.reset();

  const std::string drawn = readFile(file);
  EXPECT_EQ(drawn,
            "\r\x1b[K"
            "shop [######------] 50% download  menu waiting\r"
            // 60% comes within the redraw interval of the same phase: drawn with the next.
            "\r\x1b[K"
            "shop [#######-----] 60% download  menu [###---------] 25% copy\r"
            "\r\x1b[K"
            "shop [############] 100% done  menu [###---------] 25% copy\r"
            "\r\x1b[K");
}

TEST(ProgressBoard, UnknownSizesShowTheBytesSoFar) {
  TempDir dir;
  const auto file = dir / "terminal";
  std::unique_ptr<std::FILE, decltype(&std::fclose)> out(std::fopen(file.c_str(), "w"),
                                                         std::fclose);
  cli::ProgressBoard board({"shop"}, out.get());
  board.update(progress("shop", Phase::download, 3 * 1024 * 1024));
  out.reset();
  EXPECT_EQ(readFile(file), "\r\x1b[Kshop [------------] download 3.0 MB\r");
}

}  // namespace
}  // namespace qelvo::test
