#include "deploy_server/deploy_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "toolkit/toolkit.h"
#include "deploy_server/access_log.h"
#include "deploy_server/bundle_files.h"
#include "deploy_server/check_answer.h"
#include "deploy_server/request_path.h"

namespace qelvo::deploy {
namespace {

// A check-device body is a few hundred bytes.
constexpr std::size_t kMaxRequestBody = 1 << 20;
constexpr std::size_t kServingThreads = 32;
constexpr std::size_t kReadChunk = 64 * 1024;

bool isHostHeader(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
  });
}

std::string hostForUrl(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

void send(httplib::Response& response, const Answer& answer) {
  response.status = answer.status;
  response.set_content(answer.body, "application/json");
}

// Streams the file, so an archive of any size costs one buffer per transfer.
void sendFile(httplib::Response& response, const std::filesystem::path& file) {
  auto stream = std::make_shared<std::ifstream>(file, std::ios::binary);
  std::error_code error;
  auto size = std::filesystem::file_size(file, error);
  if (!*stream || error) {
    send(response, errorAnswer(404, "not_found", "No such file."));
    return;
  }
  response.status = 200;
  response.set_content_provider(
      static_cast<std::size_t>(size), contentTypeOf(file),
      [stream](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        std::string buffer(std::min(length, kReadChunk), '\0');
        stream->seekg(static_cast<std::streamoff>(offset));
        stream->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        // A file that shrank under us ends the connection rather than sending a short body.
        if (stream->gcount() != static_cast<std::streamsize>(buffer.size())) return false;
        return sink.write(buffer.data(), buffer.size());
      });
}

thread_local bool answeredByHandler = false;

void logRequest(const std::function<void(std::string_view)>& log, const httplib::Request& request,
                const httplib::Response& response) {
  // A streamed body's length is only known to httplib's response record.
  auto bytes = response.body.empty() ? response.content_length_ : response.body.size();
  log(accessLogLine({request.remote_addr, request.method, request.target, request.version,
                     response.status, bytes, std::chrono::system_clock::now()}));
}

}  // namespace

struct DeployServer::Routes {
  publishing::DeployRoot root;
  std::string prefix;
  std::string scheme;
  std::optional<std::string> publicOrigin;
  std::string listenOrigin;

  Url appsUrl(const httplib::Request& request) const {
    std::string origin = listenOrigin;
    if (publicOrigin) {
      origin = *publicOrigin;
    } else if (auto host = request.get_header_value("Host"); isHostHeader(host)) {
      origin = scheme + "://" + host;
    }
    if (auto url = Url::parse(origin + prefix + "/apps")) return *url;
    return *Url::parse(listenOrigin + prefix + "/apps");
  }

  void dispatch(const httplib::Request& request, httplib::Response& response) const {
    auto parts = pathParts(request.target, prefix);
    if (!parts || parts->size() < 2 || (*parts)[0] != "apps") {
      send(response, errorAnswer(404, "not_found", "No such resource."));
      return;
    }
    if (request.method != "POST" && request.method != "GET" && request.method != "HEAD") {
      send(response, errorAnswer(405, "method_not_allowed", "Only GET and POST are served."));
      return;
    }
    if (request.method == "POST") {
      if (parts->size() == 4 && (*parts)[2] == "channels" && (*parts)[3] == "check-device") {
        send(response, answerCheckDevice(root, (*parts)[1], request.body, appsUrl(request)));
      } else {
        send(response, errorAnswer(404, "not_found", "No such resource."));
      }
      return;
    }
    auto file = findBundleFile(root, std::vector<std::string>(parts->begin() + 1, parts->end()));
    if (!file) {
      send(response, errorAnswer(404, "not_found", "No such file."));
      return;
    }
    sendFile(response, *file);
  }
};

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
  const bool tls = options_.tlsCertificate || options_.tlsKey;
  if (tls) {
    if (!options_.tlsCertificate || !options_.tlsKey) {
      throw std::runtime_error("HTTPS needs both a certificate and a private key");
    }
    server_ = std::make_unique<httplib::SSLServer>(options_.tlsCertificate->c_str(),
                                                   options_.tlsKey->c_str());
    if (!server_->is_valid()) {
      throw std::runtime_error("The TLS certificate or key could not be loaded");
    }
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
  } else if (server_->bind_to_port(options_.host, options_.port)) {
    port_ = options_.port;
  }
  if (port_ <= 0) {
    throw std::runtime_error("Could not listen on " + options_.host + ":" +
                             std::to_string(options_.port));
  }
  std::string scheme = tls ? "https" : "http";
  routes_ = std::make_unique<Routes>(
      Routes{publishing::DeployRoot(options_.root), prefix, scheme, options_.publicOrigin,
             scheme + "://" + hostForUrl(options_.host) + ":" + std::to_string(port_)});

  auto log = options_.accessLog ? options_.accessLog
                                : [](std::string_view line) { printLine(line); };
  server_->new_task_queue = [] { return new httplib::ThreadPool(kServingThreads); };
  server_->set_payload_max_length(kMaxRequestBody);
  // Each request is logged once its answer is ready, before it is sent, so that a client
  // holding its answer finds the line already written. httplib's logger runs after
  // sending, on the same thread: it logs only requests no handler saw (malformed ones).
  server_->set_logger([log](const httplib::Request& request, const httplib::Response& response) {
    if (std::exchange(answeredByHandler, false)) return;
    logRequest(log, request, response);
  });
  auto handler = [routes = routes_.get(), log](const httplib::Request& request,
                                               httplib::Response& response) {
    routes->dispatch(request, response);
    logRequest(log, request, response);
    answeredByHandler = true;
  };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  server_->Put(".*", handler);
  server_->Patch(".*", handler);
  server_->Delete(".*", handler);
  server_->Options(".*", handler);
}

DeployServer::~DeployServer() {
  stop();
  if (thread_.joinable()) thread_.join();
}

void DeployServer::start() {
  serving_ = true;
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listenEnded_ = true;
  });
  while (!server_->is_running() && !listenEnded_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void DeployServer::run() {
  serving_ = true;
  if (stopRequested_) return;
  server_->listen_after_bind();
}

void DeployServer::stop() {
  stopRequested_ = true;
  if (!serving_) return;
  // httplib ignores a stop that comes before its loop runs: wait for the loop a little.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  server_->stop();
}

std::string DeployServer::appsUrl() const {
  return routes_->listenOrigin + options_.prefix + "/apps";
}

}  // namespace qelvo::deploy
