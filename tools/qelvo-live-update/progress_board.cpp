#include "progress_board.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <optional>

namespace qelvo::cli {
namespace {

using Phase = LiveUpdateManager::SyncProgress::Phase;

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 12;

const char* phaseName(Phase phase) {
  switch (phase) {
    case Phase::check:
      return "check";
    case Phase::download:
      return "download";
    case Phase::unpack:
      return "unpack";
    case Phase::copy:
      return "copy";
    case Phase::verify:
      return "verify";
    case Phase::done:
      return "done";
  }
  return "";
}

std::optional<double> fractionOf(const LiveUpdateManager::SyncProgress& progress) {
  if (progress.phase == Phase::done) return 1.0;
  if (progress.bytesExpected && *progress.bytesExpected > 0) {
    return std::min(1.0, double(progress.bytesDone) / double(*progress.bytesExpected));
  }
  if (progress.filesExpected && *progress.filesExpected > 0) {
    return std::min(1.0, double(progress.filesDone) / double(*progress.filesExpected));
  }
  return std::nullopt;
}

std::string sizeText(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f kB", double(bytes) / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / (1024 * 1024));
  }
  return text;
}

std::string barOf(const std::string& appId, const LiveUpdateManager::SyncProgress* progress) {
  if (!progress) return appId + " waiting";
  std::string text = appId + " [";
  auto fraction = fractionOf(*progress);
  int filled = fraction ? int(std::lround(*fraction * kBarWidth)) : 0;
  text += std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] ";
  if (fraction) text += std::to_string(int(std::lround(*fraction * 100))) + "% ";
  text += phaseName(progress->phase);
  if (!fraction && progress->bytesDone > 0) text += " " + sizeText(progress->bytesDone);
  return text;
}

std::size_t terminalWidth(std::FILE* out) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1;
  return 79;
}

}  // namespace

bool wantsProgressBars() { return ::isatty(STDOUT_FILENO) && ::isatty(STDERR_FILENO); }

ProgressBoard::ProgressBoard(std::vector<std::string> appIds, std::FILE* out)
    : appIds_(std::move(appIds)), out_(out) {}

void ProgressBoard::update(const LiveUpdateManager::SyncProgress& progress) {
  std::lock_guard lock(mutex_);
  auto& stored = progress_[progress.appId];
  bool phaseChanged = stored.phase != progress.phase || stored.appId.empty();
  stored = progress;
  auto now = std::chrono::steady_clock::now();
  if (!phaseChanged && now - lastDraw_ < kRedrawInterval) return;
  lastDraw_ = now;
  draw();
}

void ProgressBoard::finish() {
  std::lock_guard lock(mutex_);
  std::fputs("\r\x1b[K", out_);
  std::fflush(out_);
}

std::string ProgressBoard::render() const {
  std::string line;
  for (const auto& appId : appIds_) {
    auto found = progress_.find(appId);
    if (!line.empty()) line += "  ";
    line += barOf(appId, found == progress_.end() ? nullptr : &found->second);
  }
  auto width = terminalWidth(out_);
  if (line.size() > width) line.resize(width);
  return line;
}

void ProgressBoard::draw() {
  std::string text = "\r\x1b[K" + render() + "\r";
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

}  // namespace qelvo::cli
