// The three exchanges of the standard client with the deploy service, each run as
// transfers of the given engine.
#pragma once

#include <stop_token>

#include "client/live_updates_client.h"
#include "client/transfer_engine.h"

namespace qelvo {

// Whether `error` is a transfer cut off because its body passed the cap the caller set,
// as it is or carried by NetworkClientError::networkError.
bool isBodyOverCap(const Error& error);

// Whether a transfer ended for what the service did: an answer over its cap, or one too
// slow to arrive within its pace or the sync's deadline.
bool isServiceFault(const Error& error);

// POST {baseUrl}/{appId}/channels/check-device. A transfer failure is passed on as it
// is, except one that is the service's fault (`isServiceFault`): a networkError.
std::expected<SuccessResponseData, Error> checkForUpdate(TransferEngine& engine, const Url& baseUrl,
                                                         const CheckRequest& request,
                                                         std::stop_token stop,
                                                         const ExchangeLimits& limits);

// The body of `request` to a temporary file, handed to `moveFile`, then the status.
void downloadFile(TransferEngine& engine, HttpRequest request, LiveUpdatesClient::MoveFile moveFile,
                  std::stop_token stop, LiveUpdatesClient::DownloadCompletion completion);

// GET `url`, following redirects: the body and the final URL.
std::expected<FetchedBody, Error> fetchManifest(TransferEngine& engine, const Url& url,
                                                std::stop_token stop, const ExchangeLimits& limits);

}  // namespace qelvo
