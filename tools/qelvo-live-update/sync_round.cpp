#include "sync_round.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>

namespace qelvo::cli {
namespace {

// What the callbacks fill in on the library's threads, and the descriptor that tells
// the main thread that the last of them has run.
struct RoundState {
  std::mutex mutex;
  std::map<std::string, AppOutcome> outcomes;
  UniqueFd done{::eventfd(0, EFD_CLOEXEC)};
};

}  // namespace

RoundOutcome syncRound(LiveUpdateManager& manager, const std::vector<std::string>& appIds,
                       StopSignals& signals) {
  auto state = std::make_shared<RoundState>();
  if (!state->done) throw std::system_error(errno, std::generic_category(), "eventfd");
  manager.sync(
      appIds,
      [state] {
        const std::uint64_t one = 1;
        while (::write(state->done.get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
      },
      [state](AppOutcome outcome) {
        const auto& appId = outcome ? outcome->appId() : outcome.error().appId;
        std::lock_guard lock(state->mutex);
        state->outcomes.insert_or_assign(appId, std::move(outcome));
      });

  RoundOutcome round;
  while (!signals.waitFor(state->done.get())) {
    for (const auto& appId : appIds) manager.cancelSync(appId);
  }
  round.stopped = signals.stopped();
  std::lock_guard lock(state->mutex);
  round.outcomes = std::move(state->outcomes);
  return round;
}

}  // namespace qelvo::cli
