#include "client/service_operations.h"
#include "core/try.h"

namespace qelvo {

std::expected<SuccessResponseData, Error> checkForUpdate(TransferEngine& engine, const Url& baseUrl,
                                                         const CheckRequest& request,
                                                         std::stop_token stop) {
  Url url = baseUrl.appendingPathComponent(request.appId)
                .appendingPathComponent("channels")
                .appendingPathComponent("check-device");
  QELVO_TRY(auto body, request.toJson());
  HttpRequest http{.url = std::move(url),
                   .method = "POST",
                   .headers = {{"Content-Type", "application/json; charset=utf-8"}},
                   .body = std::move(body)};
  // A failed transfer is passed on as it is.
  QELVO_TRY(auto response, engine.perform(std::move(http), MemoryBody{}, std::move(stop)));

  if (isSuccessStatus(response.statusCode)) {
    auto decoded = SuccessResponse::fromJson(response.body);
    if (!decoded) return std::unexpected(NetworkClientError::decodingError(decoded.error()));
    return std::move(decoded->data);
  }
  if (auto refusal = decodeBraxoErrorResponse(response.body)) {
    return std::unexpected(NetworkClientError::qelvo(std::move(*refusal)));
  }
  return std::unexpected(
      NetworkClientError::invalidResponse(HttpResponse{response.statusCode, response.url}));
}

}  // namespace qelvo
