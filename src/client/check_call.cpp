#include "client/service_operations.h"
#include "base/try.h"

namespace qelvo {

std::expected<SuccessResponseData, Error> checkForUpdate(TransferEngine& engine, const Url& baseUrl,
                                                         const CheckRequest& request,
                                                         std::stop_token stop,
                                                         const ExchangeLimits& limits) {
  Url url = baseUrl.appendingPathComponent(request.appId)
                .appendingPathComponent("channels")
                .appendingPathComponent("check-device");
  QELVO_TRY(auto body, request.toJson());
  HttpRequest http{.url = std::move(url),
                   .method = "POST",
                   .headers = {{"Content-Type", "application/json; charset=utf-8"}},
                   .body = std::move(body),
                   .idleTimeout = limits.idleTimeout,
                   .minBytesPerSecond = limits.minBytesPerSecond,
                   .deadline = limits.deadline,
                   .httpsOnly = limits.httpsOnly,
                   .maxBodyBytes = limits.maxBodyBytes};
  auto outcome = engine.perform(std::move(http), MemoryBody{}, std::move(stop));
  if (!outcome) {
    if (isServiceFault(outcome.error())) {
      return std::unexpected(NetworkClientError::networkError(std::move(outcome).error()));
    }
    return std::unexpected(std::move(outcome).error());  // a failed transfer as it is
  }
  auto& response = *outcome;

  if (isSuccessStatus(response.statusCode)) {
    auto decoded = SuccessResponse::fromJson(response.body);
    if (!decoded) return std::unexpected(NetworkClientError::decodingError(decoded.error()));
    return std::move(decoded->data);
  }
  if (auto refusal = decodeBraxoErrorResponse(response.body)) {
    return std::unexpected(NetworkClientError::qelvo(std::move(*refusal), response.retryAfter));
  }
  return std::unexpected(NetworkClientError::invalidResponse(
      HttpResponse{response.statusCode, response.url, response.retryAfter}));
}

}  // namespace qelvo
