// DeployServer: a deploy service over a deploy root (see publishing/deploy_root.h),
// speaking HTTP or HTTPS. It answers check-device requests with each channel's current
// snapshot (or, during a rollout, the rollout's snapshot to the devices in its share)
// and serves snapshot archives, manifests and bundle files. It keeps no state of its
// own: an answer depends only on the request and the records in the root, which are
// kept in memory while their files stay the same (record_cache.h), so a publish or
// rollback takes effect at the next check, and any number of servers over one shared
// or synced root answer alike behind a load balancer.
//
//   DeployServer server({.root = "/srv/deploy"});   // 127.0.0.1, a free port
//   server.start();                                  // serves on background threads
//   configureDeployService({.baseUrl = server.appsUrl()});
//
// Connections are served by event loops (connection_loop.h) under the bounds of
// ServingLimits; requests are parsed and answered by request_processor.h, whose header
// lists the routes.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "deploy_server/connection_loop.h"
#include "publishing/deploy_root.h"

namespace qelvo::deploy {

struct DeployServerOptions {
  std::filesystem::path root{};
  std::string host = "127.0.0.1";
  int port = 0;  // 0: a free port, chosen when the server binds
  // Path in front of "/apps": "" or "/something" (no trailing "/").
  std::string prefix{};
  // Certificate chain and private key (PEM): HTTPS instead of HTTP.
  std::optional<std::filesystem::path> tlsCertificate{};
  std::optional<std::filesystem::path> tlsKey{};
  // Scheme, host and port written into the URLs of answers ("https://cdn.example.com").
  // Default: the request's Host header, else the address the server listens on.
  std::optional<std::string> publicOrigin{};
  // The URL at which a separate files origin (a CDN, object storage, nginx over the
  // root) serves the root's "apps" directory, "https://cdn.example.com/deploy/apps":
  // answers send devices there for archives, manifests and files. Overrides
  // publicOrigin for those URLs.
  std::optional<std::string> filesUrl{};
  // Receives each access-log line, when the answer is ready and before it is sent.
  // Default: standard output, written after each round of events.
  std::function<void(std::string_view)> accessLog{};
  ServingLimits limits{};
};

class DeployServer {
 public:
  // Binds the listening socket. Throws std::runtime_error when the options are unusable
  // (no root directory, bad prefix or files URL, TLS files that do not load) or the
  // address is taken.
  explicit DeployServer(DeployServerOptions options);
  // Stops serving and waits for the background threads, if any.
  ~DeployServer();
  DeployServer(const DeployServer&) = delete;
  DeployServer& operator=(const DeployServer&) = delete;

  // Serves on background threads; connections are accepted from the moment the
  // server is constructed.
  void start();
  // Serves on the calling thread (and one more thread per further event loop) until
  // `stop` is called.
  void run();
  // Stops accepting, lets answers in progress finish (ServingLimits::drainTimeout),
  // closes everything. May be called from any thread (not from a signal handler).
  void stop();

  int port() const { return port_; }
  // "<scheme>://<host>:<port><prefix>/apps", the base URL a device is configured with.
  std::string appsUrl() const;

 private:
  DeployServerOptions options_;
  UniqueFd listener_;
  int port_ = 0;
  std::unique_ptr<TlsContext> tls_;
  std::unique_ptr<RequestProcessor> processor_;
  std::atomic<std::size_t> openConnections_ = 0;
  std::vector<std::unique_ptr<ConnectionLoop>> loops_;
  std::thread thread_;
};

}  // namespace qelvo::deploy
