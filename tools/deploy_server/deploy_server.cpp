#include "deploy_server/deploy_server.h"

#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "qelvo/url.h"
#include "toolkit/toolkit.h"

namespace qelvo::deploy {
namespace {

std::string hostForUrl(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// A listening, non-blocking socket on host:port (port 0: a free one).
UniqueFd listenOn(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  auto service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return UniqueFd();
  UniqueFd socket;
  for (auto* address = found; address; address = address->ai_next) {
    UniqueFd candidate(::socket(address->ai_family,
                                address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    int on = 1;
    ::setsockopt(candidate.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (candidate && ::bind(candidate.get(), address->ai_addr, address->ai_addrlen) == 0 &&
        ::listen(candidate.get(), SOMAXCONN) == 0) {
      socket = std::move(candidate);
      break;
    }
  }
  ::freeaddrinfo(found);
  return socket;
}

int boundPort(int socket) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  if (address.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
}

// Connections beyond the descriptors the process may open would fail at accept:
// keep room for files being sent and the records being read.
std::size_t connectionsThatFit(std::size_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return wanted;
  auto descriptors = static_cast<std::size_t>(limit.rlim_cur);
  return std::max<std::size_t>(1, std::min(wanted, descriptors / 2));
}

// The default access log: lines gather per thread and reach standard output after each
// round of events, one write for many requests.
thread_local std::string pendingLog;

void flushPendingLog() {
  if (pendingLog.empty()) return;
  std::fwrite(pendingLog.data(), 1, pendingLog.size(), stdout);  // stdio locks the stream
  std::fflush(stdout);
  pendingLog.clear();
}

void bufferLogLine(std::string_view line) {
  pendingLog.append(line).push_back('\n');
  if (pendingLog.size() > 64 * 1024) flushPendingLog();
}

}  // namespace

DeployServer::DeployServer(DeployServerOptions options) : options_(std::move(options)) {
  std::error_code error;
  if (!std::filesystem::is_directory(options_.root, error)) {
    throw std::runtime_error("The deploy root is not a directory: " + options_.root.string());
  }
  const auto& prefix = options_.prefix;
  if (!prefix.empty() &&
      (prefix.front() != '/' || prefix.back() == '/' || !isEncodedPath(prefix))) {
    throw std::runtime_error("The prefix must be empty or a path like /deploy: " + prefix);
  }
  // Both are parsed once here; answers then only append names to their text.
  std::optional<std::string> filesUrl;
  if (options_.filesUrl) {
    std::string text = *options_.filesUrl;
    while (text.ends_with('/')) text.pop_back();
    auto url = Url::parse(text);
    if (!url || (url->scheme() != "http" && url->scheme() != "https") || url->host().empty()) {
      throw std::runtime_error("The files URL must be an http or https URL: " +
                               *options_.filesUrl);
    }
    filesUrl = url->text();
  }
  std::optional<std::string> publicOrigin;
  if (options_.publicOrigin) {
    auto url = Url::parse(*options_.publicOrigin + prefix + "/apps");
    if (!url || url->host().empty()) {
      throw std::runtime_error("The public origin must be like https://deploy.example.com: " +
                               *options_.publicOrigin);
    }
    auto text = url->text();
    publicOrigin = text.substr(0, text.size() - prefix.size() - 5);  // without prefix + "/apps"
  }
  const bool tls = options_.tlsCertificate || options_.tlsKey;
  if (tls) {
    if (!options_.tlsCertificate || !options_.tlsKey) {
      throw std::runtime_error("HTTPS needs both a certificate and a private key");
    }
    tls_ = std::make_unique<TlsContext>(*options_.tlsCertificate, *options_.tlsKey);
  }
  listener_ = listenOn(options_.host, options_.port);
  port_ = listener_ ? boundPort(listener_.get()) : 0;
  if (port_ <= 0) {
    throw std::runtime_error("Could not listen on " + options_.host + ":" +
                             std::to_string(options_.port));
  }
  std::string scheme = tls ? "https" : "http";
  RoutingOptions routing{
      .prefix = prefix,
      .scheme = scheme,
      .listenOrigin = scheme + "://" + hostForUrl(options_.host) + ":" + std::to_string(port_),
      .publicOrigin = publicOrigin,
      .filesUrl = filesUrl,
      .keepAliveSeconds = static_cast<int>(
          std::chrono::duration_cast<std::chrono::seconds>(options_.limits.idleTimeout).count()),
      .keepAliveRequests = options_.limits.maxRequestsPerConnection};
  const bool ownLog = !options_.accessLog;
  processor_ = std::make_unique<RequestProcessor>(
      publishing::DeployRoot(options_.root), std::move(routing),
      ownLog ? std::function<void(std::string_view)>(bufferLogLine) : options_.accessLog);

  auto limits = options_.limits;
  limits.maxConnections = connectionsThatFit(limits.maxConnections);
  std::size_t loops = limits.eventLoops;
  if (loops == 0) loops = std::max(1u, std::thread::hardware_concurrency());
  for (std::size_t i = 0; i < loops; ++i) {
    loops_.push_back(std::make_unique<ConnectionLoop>(
        listener_.get(), *processor_, tls_.get(), limits, openConnections_, loops,
        ownLog ? std::function<void()>(flushPendingLog) : std::function<void()>()));
  }
}

DeployServer::~DeployServer() {
  stop();
  if (thread_.joinable()) thread_.join();
}

void DeployServer::start() {
  thread_ = std::thread([this] { run(); });
}

void DeployServer::run() {
  std::vector<std::thread> others;
  for (std::size_t i = 1; i < loops_.size(); ++i) {
    others.emplace_back([loop = loops_[i].get()] { loop->run(); });
  }
  loops_.front()->run();
  for (auto& thread : others) thread.join();
}

void DeployServer::stop() {
  for (auto& loop : loops_) loop->stop();
}

std::string DeployServer::appsUrl() const { return processor_->appsUrl(); }

}  // namespace qelvo::deploy
