// LiveUpdatesClient: the three network operations of the library, held as callable
// values so that tools and tests can bring their own. The standard client (`live`)
// talks to the deploy service over HTTP(S) through one transfer engine (one I/O
// thread) that every manager shares.
//
//   auto client = LiveUpdatesClient::make(*Url::parse("https://deploy.example.com/apps"), {});
//   auto data = client->checkForUpdate(request, stop, {});   // waits for the answer
#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "client/check_types.h"
#include "client/http_request.h"
#include "qelvo/configuration.h"
#include "qelvo/error.h"
#include "qelvo/url.h"

namespace qelvo {

// The body and final URL of a fetched manifest.
struct FetchedBody {
  std::string body;
  Url url;
};

struct LiveUpdatesClient {
  // Takes the downloaded temporary file away (move or copy) before it returns. Runs on
  // the transfer engine's thread: it must not wait for another transfer.
  using MoveFile = std::function<std::expected<void, Error>(const std::filesystem::path& file)>;
  // Called exactly once when a download has ended, on the transfer engine's thread.
  using DownloadCompletion = std::function<void(std::expected<void, Error>)>;

  // POSTs the check-device request; the answer's data, or an error: NetworkClientError
  // (invalidResponse, decodingError, qelvo), a TransferError unchanged (an answer over
  // `limits.maxBodyBytes` included), EncodingError, or CancellationError. Waits for the
  // answer.
  std::function<std::expected<SuccessResponseData, Error>(
      const CheckRequest& request, std::stop_token stop, const ExchangeLimits& limits)>
      checkForUpdate;

  // Downloads the body of `request` to a temporary file, calls `moveFile` with it
  // (also for refused requests), then completes: NetworkClientError::networkError for
  // a failed transfer or a failed `moveFile`, invalidResponse for a status outside
  // 200-299, CancellationError when stopped. Returns at once; the transfer is queued.
  std::function<void(HttpRequest request, MoveFile moveFile, std::stop_token stop,
                     DownloadCompletion completion)>
      downloadFile;

  // GETs a manifest: its body and the final URL after redirects; networkError (a body
  // over `limits.maxBodyBytes` included), invalidResponse, or CancellationError. Waits
  // for the answer.
  std::function<std::expected<FetchedBody, Error>(const Url& url, std::stop_token stop,
                                                  const ExchangeLimits& limits)>
      fetchManifest;

  // The standard client for the base URL last given to `configureDeployService`, made
  // again only when that URL changes; every standard client runs on one transfer
  // engine, made at first use and ended (its threads joined) when no client holds it
  // any more. Throws ConfigurationError when the base URL is not an absolute URL.
  static std::shared_ptr<const LiveUpdatesClient> live();

  // A standard client for another deploy service (tools and tests), with a transfer
  // engine of its own that ends with the client; transfers still running then end
  // with CancellationError.
  static std::shared_ptr<const LiveUpdatesClient> make(const Url& baseUrl,
                                                       const DeployServiceOptions& options);
};

// `downloadFile` waited on: the download's outcome. Not from the engine's thread.
std::expected<void, Error> downloadFileAndWait(const LiveUpdatesClient& client, HttpRequest request,
                                               LiveUpdatesClient::MoveFile moveFile,
                                               std::stop_token stop);

}  // namespace qelvo
