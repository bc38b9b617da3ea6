#include "stop_signals.h"

#include <poll.h>
#include <unistd.h>
#include <signal.h>
#include <sys/signalfd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace qelvo::cli {
namespace {

sigset_t stopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

void blockStopSignals() {
  auto set = stopSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignals::StopSignals() {
  auto set = stopSignalSet();
  signals_ = UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!signals_) throw std::system_error(errno, std::generic_category(), "signalfd");
}

bool StopSignals::poll(int fd, int timeoutMs) {
  pollfd fds[2];
  nfds_t count = 0;
  if (!stopped_) fds[count++] = {signals_.get(), POLLIN, 0};
  if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
  if (count == 0 || ::poll(fds, count, timeoutMs) <= 0) return false;  // EINTR: look again
  bool readable = false;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].revents == 0) continue;
    if (fds[i].fd != signals_.get()) {
      readable = true;
      continue;
    }
    signalfd_siginfo info{};
    while (::read(signals_.get(), &info, sizeof info) == sizeof info) {
    }
    stopped_ = true;
  }
  return readable;
}

bool StopSignals::sleepUntil(std::chrono::steady_clock::time_point deadline) {
  while (!stopped_) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                             std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    // Capped only to stay within an int; the loop goes on until the deadline.
    poll(-1, static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 3'600'000)));
  }
  return false;
}

bool StopSignals::waitFor(int fd) {
  const bool stoppedBefore = stopped_;
  while (!poll(fd, -1)) {
    if (stopped_ && !stoppedBefore) return false;
  }
  return true;
}

}  // namespace qelvo::cli
