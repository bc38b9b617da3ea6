// The three exchanges of the standard client with the deploy service, each run as
// transfers of the given engine.
#pragma once

#include <stop_token>

#include "client/live_updates_client.h"
#include "client/transfer_engine.h"

namespace qelvo {

// POST {baseUrl}/{appId}/channels/check-device.
std::expected<SuccessResponseData, Error> checkForUpdate(TransferEngine& engine, const Url& baseUrl,
                                                         const CheckRequest& request,
                                                         std::stop_token stop);

// The body of `request` to a temporary file, handed to `moveFile`, then the status.
void downloadFile(TransferEngine& engine, HttpRequest request, LiveUpdatesClient::MoveFile moveFile,
                  std::stop_token stop, LiveUpdatesClient::DownloadCompletion completion);

// GET `url`, following redirects: the body and the final URL.
std::expected<FetchedBody, Error> fetchManifest(TransferEngine& engine, const Url& url,
                                                std::stop_token stop);

}  // namespace qelvo
