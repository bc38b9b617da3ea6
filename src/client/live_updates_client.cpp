#include "client/live_updates_client.h"

#include <future>
#include <mutex>

#include "client/service_operations.h"

#ifndef QELVO_DEPLOY_BASE_URL
#error "QELVO_DEPLOY_BASE_URL must name the deploy service's base URL"
#endif

namespace qelvo {
namespace {

struct DeployServiceConfiguration {
  std::mutex mutex;
  DeployServiceOptions options;
  bool liveClientCreated = false;
};

DeployServiceConfiguration& deployServiceConfiguration() {
  static auto* configuration = new DeployServiceConfiguration;  // used until exit
  return *configuration;
}

TransferEngineSettings engineSettings(const DeployServiceOptions& options) {
  return TransferEngineSettings{.maxConnectionsPerHost = options.maxConnectionsPerHost,
                                .maxConnections = options.maxConnections,
                                .maxActiveTransfers = options.maxActiveTransfers,
                                .caFile = options.caFile};
}

std::shared_ptr<const LiveUpdatesClient> createLiveClient() {
  DeployServiceOptions options;
  {
    auto& configuration = deployServiceConfiguration();
    std::lock_guard lock(configuration.mutex);
    configuration.liveClientCreated = true;
    options = configuration.options;
  }
  std::string text = options.baseUrl.value_or(QELVO_DEPLOY_BASE_URL);
  auto baseUrl = Url::parse(text);
  if (!baseUrl || baseUrl->host().empty()) {
    throw ConfigurationError("The deploy service base URL is not an absolute URL: " + text);
  }
  return LiveUpdatesClient::make(*baseUrl, options);
}

}  // namespace

void configureDeployService(DeployServiceOptions options) {
  auto& configuration = deployServiceConfiguration();
  std::lock_guard lock(configuration.mutex);
  if (!configuration.liveClientCreated) configuration.options = std::move(options);
}

std::shared_ptr<const LiveUpdatesClient> LiveUpdatesClient::live() {
  // Never destroyed: detached sync tasks may still use it while the process exits.
  static const auto* client = new std::shared_ptr<const LiveUpdatesClient>(createLiveClient());
  return *client;
}

std::shared_ptr<const LiveUpdatesClient> LiveUpdatesClient::make(
    const Url& baseUrl, const DeployServiceOptions& options) {
  // The three operations share the client's one engine; it ends with the client.
  auto engine = std::make_shared<TransferEngine>(engineSettings(options));
  auto client = std::make_shared<LiveUpdatesClient>();
  client->checkForUpdate = [engine, baseUrl](const CheckRequest& request, std::stop_token stop) {
    return qelvo::checkForUpdate(*engine, baseUrl, request, std::move(stop));
  };
  client->downloadFile = [engine](HttpRequest request, MoveFile moveFile, std::stop_token stop,
                                  DownloadCompletion completion) {
    qelvo::downloadFile(*engine, std::move(request), std::move(moveFile), std::move(stop),
                        std::move(completion));
  };
  client->fetchManifest = [engine](const Url& url, std::stop_token stop) {
    return qelvo::fetchManifest(*engine, url, std::move(stop));
  };
  return client;
}

std::expected<void, Error> downloadFileAndWait(const LiveUpdatesClient& client, HttpRequest request,
                                               LiveUpdatesClient::MoveFile moveFile,
                                               std::stop_token stop) {
  auto promise = std::make_shared<std::promise<std::expected<void, Error>>>();
  auto future = promise->get_future();
  client.downloadFile(
      std::move(request), std::move(moveFile), std::move(stop),
      [promise](std::expected<void, Error> outcome) { promise->set_value(std::move(outcome)); });
  return future.get();
}

}  // namespace qelvo
