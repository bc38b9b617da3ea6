// The Retry-After a failure carries, wherever the refusal sits in it.
#include "base/overloaded.h"
#include "qelvo/error.h"

namespace qelvo {

std::optional<std::chrono::seconds> NetworkClientError::retryAfter() const {
  using Wait = std::optional<std::chrono::seconds>;
  return std::visit(
      Overloaded{[](const InvalidResponse& invalid) -> Wait { return invalid.response.retryAfter; },
                 [](const Qelvo& refusal) -> Wait { return refusal.retryAfter; },
                 [](const DecodingError&) -> Wait { return std::nullopt; },
                 [](const NetworkError& network) -> Wait {
                   // A file of a file-by-file download fails inside the download's error.
                   if (!network.error) return std::nullopt;
                   if (const auto* sync = network.error->get<SyncError>()) return sync->retryAfter();
                   if (const auto* client = network.error->get<NetworkClientError>()) {
                     return client->retryAfter();
                   }
                   return std::nullopt;
                 }},
      value_);
}

std::optional<std::chrono::seconds> SyncError::retryAfter() const {
  const auto* network = std::get_if<Reason::NetworkError>(&reason.value);
  return network ? network->reason.retryAfter() : std::nullopt;
}

}  // namespace qelvo
