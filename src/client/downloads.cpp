#include "client/service_operations.h"

#include <curl/curl.h>

#include "platform/host.h"
#include "qelvo/configuration.h"

namespace qelvo {
namespace {

// Download files go to the request's body directory or else to the host's temporary
// directory, on the same filesystem as the version cache, so that taking them away is a
// rename.
std::expected<TemporaryFile, PlatformError> createDownloadFile(
    const std::optional<std::filesystem::path>& bodyDirectory) {
  if (bodyDirectory) return TemporaryFile::create(*bodyDirectory);
  std::filesystem::path directory;
  try {
    directory = platform::temporaryDirectory();
  } catch (const std::exception& error) {
    return std::unexpected(PlatformError("QelvoLiveUpdates.ConfigurationError", 0, error.what()));
  }
  return TemporaryFile::create(directory);
}

// `moveFile` is the caller's code; whatever it throws is reported as its failure.
std::expected<void, Error> takeFile(const LiveUpdatesClient::MoveFile& moveFile,
                                    const std::filesystem::path& file) {
  try {
    return moveFile(file);
  } catch (const std::exception& error) {
    return std::unexpected(PlatformError("QelvoLiveUpdates.MoveFile", 0, error.what()));
  }
}

// A transfer that did not complete is a network error, a stop included: it carries the
// CancellationError, as it carries any other reason a transfer ended early.
Error transferFailure(const Error& error) { return NetworkClientError::networkError(error); }

}  // namespace

bool isServiceFault(const Error& error) {
  if (isBodyOverCap(error)) return true;
  const auto* transfer = error.get<TransferError>();
  return transfer && transfer->curlCode == CURLE_OPERATION_TIMEDOUT;
}

bool isBodyOverCap(const Error& error) {
  if (const auto* client = error.get<NetworkClientError>()) {
    const auto* network = std::get_if<NetworkClientError::NetworkError>(&client->value());
    return network && network->error && isBodyOverCap(*network->error);
  }
  const auto* transfer = error.get<TransferError>();
  return transfer && transfer->curlCode == CURLE_FILESIZE_EXCEEDED;
}

void downloadFile(TransferEngine& engine, HttpRequest request, LiveUpdatesClient::MoveFile moveFile,
                  std::stop_token stop, LiveUpdatesClient::DownloadCompletion completion) {
  FileBody body{[directory = request.bodyDirectory] { return createDownloadFile(directory); }};
  engine.submit(std::move(request), std::move(body), std::move(stop),
                [moveFile = std::move(moveFile),
                 completion = std::move(completion)](TransferEngine::Outcome outcome) {
                  if (!outcome) {
                    completion(std::unexpected(transferFailure(outcome.error())));
                    return;
                  }
                  // The body is handed over before the status is looked at, refusals included.
                  auto moved = takeFile(moveFile, outcome->file->path());
                  outcome->file.reset();  // removes the file unless it was taken away
                  if (!moved) {
                    completion(std::unexpected(NetworkClientError::networkError(moved.error())));
                  } else if (!isSuccessStatus(outcome->statusCode)) {
                    completion(std::unexpected(NetworkClientError::invalidResponse(
                        HttpResponse{outcome->statusCode, outcome->url, outcome->retryAfter})));
                  } else {
                    completion({});
                  }
                });
}

std::expected<FetchedBody, Error> fetchManifest(TransferEngine& engine, const Url& url,
                                                std::stop_token stop, const ExchangeLimits& limits) {
  auto outcome = engine.perform(HttpRequest{.url = url,
                                            .idleTimeout = limits.idleTimeout,
                                            .minBytesPerSecond = limits.minBytesPerSecond,
                                            .deadline = limits.deadline,
                                            .httpsOnly = limits.httpsOnly,
                                            .maxBodyBytes = limits.maxBodyBytes},
                                MemoryBody{}, std::move(stop));
  if (!outcome) return std::unexpected(transferFailure(outcome.error()));
  if (!isSuccessStatus(outcome->statusCode)) {
    return std::unexpected(
        NetworkClientError::invalidResponse(
            HttpResponse{outcome->statusCode, outcome->url, outcome->retryAfter}));
  }
  return FetchedBody{std::move(outcome->body), std::move(outcome->url)};
}

}  // namespace qelvo
