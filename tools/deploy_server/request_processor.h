// RequestProcessor: parses and answers one whole request with cpp-httplib's request
// processing (request line, headers, routing, the answer's head), over bytes that the
// event loop has already received, and returns the bytes to send back. It never
// touches a socket, so it runs on the event loop's thread without waiting.
//
//   auto reply = processor.process(requestBytes, {"10.0.0.7", 51234}, false);
//   // reply.bytes: head (and body), then reply.file's bytes, then close if reply.close
//
// Routes, below the optional prefix:
//   POST /apps/<app>/channels/check-device   (answers are never cached)
//   GET  /apps/<app>/snapshots/<id>/bundle.zip
//   GET  /apps/<app>/snapshots/<id>/files/<href>   (cacheable for good; see file_answer.h)
// Anything else is answered 404 with the error envelope. One access-log line is
// written per request, when its answer is ready.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "deploy_server/file_answer.h"
#include "deploy_server/record_cache.h"

namespace qelvo::deploy {

struct Reply {
  std::string bytes;
  std::optional<FileBody> file;
  bool close = false;  // the client asked for it, or spoke HTTP/1.0
};

struct Peer {
  std::string address;
  int port = 0;
};

struct RoutingOptions {
  std::string prefix;       // "" or "/path"
  std::string scheme;       // of this server: "http" or "https"
  std::string listenOrigin; // "<scheme>://<host>:<port>", when a request names no host
  std::optional<std::string> publicOrigin;  // checked: an origin without a path
  std::optional<std::string> filesUrl;      // where answers send devices for files, checked

  // What the Keep-Alive header announces.
  int keepAliveSeconds = 75;
  std::size_t keepAliveRequests = 10000;
};

class RequestProcessor {
 public:
  RequestProcessor(publishing::DeployRoot root, RoutingOptions options,
                   std::function<void(std::string_view)> accessLog);
  ~RequestProcessor();
  RequestProcessor(const RequestProcessor&) = delete;
  RequestProcessor& operator=(const RequestProcessor&) = delete;

  // Answers the request in `request` (exactly one, head and body). With
  // `closeConnection` the answer says the connection ends after it.
  Reply process(std::string_view request, const Peer& peer, bool closeConnection) const;

  // Logs a request that the event loop refused before parsing it (from its request line).
  void logRefusal(std::string_view received, const Peer& peer, int status) const;

  // The apps URL that a device reaching this server directly is configured with.
  std::string appsUrl() const;

 private:
  class Engine;
  std::unique_ptr<Engine> engine_;
};

// A whole answer that the event loop sends by itself, without parsing the request
// (refused framing, too many connections): the error envelope, and the connection ends.
std::string refusalBytes(int status, const std::string& message);

}  // namespace qelvo::deploy
