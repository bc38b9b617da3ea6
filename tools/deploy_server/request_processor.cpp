#include "deploy_server/request_processor.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <utility>

#include "deploy_server/access_log.h"
#include "deploy_server/bundle_files.h"
#include "deploy_server/check_answer.h"
#include "deploy_server/request_path.h"

namespace qelvo::deploy {
namespace {

constexpr const char* kNeverCache = "no-store";

bool isHostHeader(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
  });
}

void send(httplib::Response& response, const Answer& answer) {
  response.status = answer.status;
  response.set_header("Cache-Control", kNeverCache);
  response.set_content(answer.body, "application/json");
}

// httplib reads the request from, and writes the answer to, memory.
class MemoryStream final : public httplib::Stream {
 public:
  MemoryStream(std::string_view input, const Peer& peer, std::string& output)
      : input_(input), peer_(peer), output_(output) {}

  bool is_readable() const override { return !input_.empty(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* buffer, size_t size) override {
    size = std::min(size, input_.size());
    std::memcpy(buffer, input_.data(), size);
    input_.remove_prefix(size);
    return static_cast<ssize_t>(size);
  }
  ssize_t write(const char* data, size_t size) override {
    output_.append(data, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = peer_.address;
    port = peer_.port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  std::string_view input_;
  const Peer& peer_;
  std::string& output_;
};

// The reply being built on this thread, for the file route to attach its body to, and
// whether a handler has logged the request already.
thread_local Reply* currentReply = nullptr;
thread_local bool answeredByHandler = false;

}  // namespace

class RequestProcessor::Engine : public httplib::Server {
 public:
  Engine(publishing::DeployRoot root, RoutingOptions options,
         std::function<void(std::string_view)> log)
      : records_(std::move(root)), options_(std::move(options)), log_(std::move(log)) {
    set_keep_alive_timeout(options_.keepAliveSeconds);
    set_keep_alive_max_count(options_.keepAliveRequests);
    // Each request is logged once its answer is ready, before it is sent, so that a
    // client holding its answer finds the line already written. httplib's logger sees
    // what no handler saw (requests it refused while parsing them).
    set_logger([this](const httplib::Request& request, const httplib::Response& response) {
      if (std::exchange(answeredByHandler, false)) return;
      logRequest(request, response, response.body.size());
    });
    auto handler = [this](const httplib::Request& request, httplib::Response& response) {
      dispatch(request, response);
      auto bytes = currentReply && currentReply->file ? currentReply->file->length
                                                      : response.body.size();
      logRequest(request, response, bytes);
      answeredByHandler = true;
    };
    Get(".*", handler);
    Post(".*", handler);
    Put(".*", handler);
    Patch(".*", handler);
    Delete(".*", handler);
    Options(".*", handler);
  }

  Reply process(std::string_view request, const Peer& peer, bool closeConnection) {
    Reply reply;
    MemoryStream stream(request, peer, reply.bytes);
    currentReply = &reply;
    answeredByHandler = false;
    bool closed = false;
    process_request(stream, closeConnection, closed, [](httplib::Request& parsed) {
      parsed.ranges.clear();              // ranges of files are answered by file_answer
      parsed.headers.erase("Expect");     // the event loop has said "100 Continue" itself
    });
    currentReply = nullptr;
    reply.close = closed || closeConnection;
    // httplib announces an empty body as "Content-Length: 0"; a 304 must not say that (a
    // cache would take it for the file's length).
    if (reply.bytes.starts_with("HTTP/1.1 304 ")) {
      constexpr std::string_view kEmpty = "Content-Length: 0\r\n";
      if (auto at = reply.bytes.find(kEmpty); at != std::string::npos) reply.bytes.erase(at, kEmpty.size());
    }
    return reply;
  }

  void logRefusal(std::string_view received, const Peer& peer, int status) const {
    std::string_view line = received.substr(0, received.find_first_of("\r\n"));
    std::string parts[3];
    for (auto& part : parts) {
      auto space = line.find(' ');
      part = std::string(line.substr(0, std::min(space, std::size_t{2048})));
      line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
    }
    log_(accessLogLine(
        {peer.address, parts[0], parts[1], parts[2], status, 0, std::chrono::system_clock::now()}));
  }

  std::string appsUrlText() const { return options_.listenOrigin + options_.prefix + "/apps"; }

 private:
  void logRequest(const httplib::Request& request, const httplib::Response& response,
                  std::uintmax_t bytes) const {
    log_(accessLogLine({request.remote_addr, request.method, request.target, request.version,
                        response.status, bytes, std::chrono::system_clock::now()}));
  }

  // The files URL of a request's answer. Without a files origin, the Host header names
  // this server as the device reached it (only plain host characters are taken, so the
  // text needs no parsing).
  std::string filesUrl(const httplib::Request& request) const {
    if (options_.filesUrl) return *options_.filesUrl;
    if (options_.publicOrigin) return *options_.publicOrigin + options_.prefix + "/apps";
    if (auto host = request.get_header_value("Host"); isHostHeader(host)) {
      return options_.scheme + "://" + host + options_.prefix + "/apps";
    }
    return appsUrlText();
  }

  void dispatch(const httplib::Request& request, httplib::Response& response) const {
    auto parts = pathParts(request.target, options_.prefix);
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
        send(response, answerCheckDevice(records_, (*parts)[1], request.body, filesUrl(request)));
      } else {
        send(response, errorAnswer(404, "not_found", "No such resource."));
      }
      return;
    }
    auto file = findBundleFile(records_.root(),
                               std::vector<std::string>(parts->begin() + 1, parts->end()));
    if (!file || !answerFile(request, response, *file, currentReply->file)) {
      send(response, errorAnswer(404, "not_found", "No such file."));
    }
  }

  RecordCache records_;
  RoutingOptions options_;
  std::function<void(std::string_view)> log_;
};

RequestProcessor::RequestProcessor(publishing::DeployRoot root, RoutingOptions options,
                                   std::function<void(std::string_view)> accessLog)
    : engine_(std::make_unique<Engine>(std::move(root), std::move(options), std::move(accessLog))) {}

RequestProcessor::~RequestProcessor() = default;

Reply RequestProcessor::process(std::string_view request, const Peer& peer,
                                bool closeConnection) const {
  return engine_->process(request, peer, closeConnection);
}

void RequestProcessor::logRefusal(std::string_view received, const Peer& peer, int status) const {
  engine_->logRefusal(received, peer, status);
}

std::string RequestProcessor::appsUrl() const { return engine_->appsUrlText(); }

std::string refusalBytes(int status, const std::string& message) {
  const char* reason = "Bad Request";
  switch (status) {
    case 411: reason = "Length Required"; break;
    case 413: reason = "Content Too Large"; break;
    case 431: reason = "Request Header Fields Too Large"; break;
    case 503: reason = "Service Unavailable"; break;
    default: break;
  }
  auto body = errorAnswer(status, status == 503 ? "unavailable" : "bad_request", message).body;
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: application/json\r\nCache-Control: no-store\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n" +
         (status == 503 ? "Retry-After: 1\r\n" : "") + "\r\n" + body;
}

}  // namespace qelvo::deploy
