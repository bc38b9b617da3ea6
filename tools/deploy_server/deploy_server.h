// DeployServer: a deploy service over a deploy root (see publishing/deploy_root.h),
// speaking HTTP or HTTPS. It answers check-device requests with each channel's current
// snapshot and serves snapshot archives, manifests and bundle files; everything is read
// from the root at each request, so a publish or rollback takes effect at once.
//
//   DeployServer server({.root = "/srv/deploy"});   // 127.0.0.1, a free port
//   server.start();                                  // serves on a background thread
//   configureDeployService({.baseUrl = server.appsUrl()});
//
// Routes, below the optional prefix:
//   POST /apps/<app>/channels/check-device
//   GET  /apps/<app>/snapshots/<id>/bundle.zip
//   GET  /apps/<app>/snapshots/<id>/files/<href>
// Anything else is answered 404 with the error envelope. One access-log line is
// written per request.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "publishing/deploy_root.h"

namespace httplib {
class Server;
}

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
  // Receives each access-log line; default: standard output.
  std::function<void(std::string_view)> accessLog{};
};

class DeployServer {
 public:
  // Binds the listening socket. Throws std::runtime_error when the options are unusable
  // (no root directory, bad prefix, TLS files that do not load) or the address is taken.
  explicit DeployServer(DeployServerOptions options);
  // Stops serving and waits for the background thread, if any.
  ~DeployServer();
  DeployServer(const DeployServer&) = delete;
  DeployServer& operator=(const DeployServer&) = delete;

  // Serves on a background thread; returns once requests are accepted.
  void start();
  // Serves on the calling thread until `stop` is called.
  void run();
  // Stops serving; may be called from any thread (not from a signal handler).
  void stop();

  int port() const { return port_; }
  // "<scheme>://<host>:<port><prefix>/apps", the base URL a device is configured with.
  std::string appsUrl() const;

 private:
  struct Routes;

  DeployServerOptions options_;
  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<Routes> routes_;
  int port_ = 0;
  std::atomic<bool> serving_ = false;
  std::atomic<bool> stopRequested_ = false;
  std::atomic<bool> listenEnded_ = false;
  std::thread thread_;
};

}  // namespace qelvo::deploy
