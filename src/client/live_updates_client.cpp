#include "client/live_updates_client.h"

#include <future>
#include <mutex>

#include "client/service_operations.h"

#ifndef QELVO_DEPLOY_BASE_URL
#error "QELVO_DEPLOY_BASE_URL must name the deploy service's base URL"
#endif

namespace qelvo {
namespace {

// The options last configured, and the standard client made from them. Every standard
// client shares one transfer engine, so connections stay pooled and the transfer limits
// hold for the whole process. Only weak references are kept here: the managers own the
// client and its engine, whose threads are joined when the last of them goes away.
struct DeployServiceConfiguration {
  std::mutex mutex;
  DeployServiceOptions options;
  std::weak_ptr<TransferEngine> engine;
  std::weak_ptr<const LiveUpdatesClient> client;
  std::string clientBaseUrl;  // the base URL text `client` was made for
};

DeployServiceConfiguration& deployServiceConfiguration() {
  // Never destroyed, so that a manager released late in the process's exit still finds
  // it; it holds no thread and no connection.
  static auto* configuration = new DeployServiceConfiguration;
  return *configuration;
}

TransferEngineSettings engineSettings(const DeployServiceOptions& options) {
  return TransferEngineSettings{.maxConnectionsPerHost = options.maxConnectionsPerHost,
                                .maxConnections = options.maxConnections,
                                .maxActiveTransfers = options.maxActiveTransfers,
                                .caFile = options.caFile};
}

// The three operations of a client for `baseUrl`, all running on `engine`.
std::shared_ptr<const LiveUpdatesClient> clientOn(std::shared_ptr<TransferEngine> engine,
                                                  const Url& baseUrl) {
  auto client = std::make_shared<LiveUpdatesClient>();
  // A service reached over https must not send a device to plain http: not by the URLs
  // it hands out, nor by a redirect.
  const bool httpsOnly = baseUrl.scheme() == "https";
  client->checkForUpdate = [engine, baseUrl, httpsOnly](const CheckRequest& request,
                                                         std::stop_token stop,
                                                         ExchangeLimits limits) {
    limits.httpsOnly = limits.httpsOnly || httpsOnly;
    return qelvo::checkForUpdate(*engine, baseUrl, request, std::move(stop), limits);
  };
  client->downloadFile = [engine, httpsOnly](HttpRequest request,
                                             LiveUpdatesClient::MoveFile moveFile,
                                             std::stop_token stop,
                                             LiveUpdatesClient::DownloadCompletion completion) {
    request.httpsOnly = request.httpsOnly || httpsOnly;
    qelvo::downloadFile(*engine, std::move(request), std::move(moveFile), std::move(stop),
                        std::move(completion));
  };
  client->fetchManifest = [engine, httpsOnly](const Url& url, std::stop_token stop,
                                              ExchangeLimits limits) {
    limits.httpsOnly = limits.httpsOnly || httpsOnly;
    return qelvo::fetchManifest(*engine, url, std::move(stop), limits);
  };
  return client;
}

}  // namespace

void configureDeployService(DeployServiceOptions options) {
  auto& configuration = deployServiceConfiguration();
  std::lock_guard lock(configuration.mutex);
  configuration.options = std::move(options);
}

std::shared_ptr<const LiveUpdatesClient> LiveUpdatesClient::live() {
  auto& configuration = deployServiceConfiguration();
  std::lock_guard lock(configuration.mutex);
  std::string text = configuration.options.baseUrl.value_or(QELVO_DEPLOY_BASE_URL);
  auto client = configuration.client.lock();
  if (client && configuration.clientBaseUrl == text) return client;
  auto baseUrl = Url::parse(text);
  if (!baseUrl || baseUrl->host().empty()) {
    throw ConfigurationError("The deploy service base URL is not an absolute URL: " + text);
  }
  auto engine = configuration.engine.lock();
  if (!engine) {
    engine = std::make_shared<TransferEngine>(engineSettings(configuration.options));
    configuration.engine = engine;
  }
  client = clientOn(std::move(engine), *baseUrl);
  configuration.client = client;
  configuration.clientBaseUrl = std::move(text);
  return client;
}

std::shared_ptr<const LiveUpdatesClient> LiveUpdatesClient::make(
    const Url& baseUrl, const DeployServiceOptions& options) {
  // The three operations share the client's one engine; it ends with the client.
  return clientOn(std::make_shared<TransferEngine>(engineSettings(options)), baseUrl);
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
