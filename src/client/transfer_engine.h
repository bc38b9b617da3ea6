// TransferEngine: every HTTP transfer of a client runs here, on a few I/O threads (one
// per core, at most two), each driving a libcurl multi handle. Callers on any thread
// submit transfers; each one completes exactly once, on the thread that ran it.
//
//   TransferEngine engine({});
//   auto outcome = engine.perform(HttpRequest{.url = *Url::parse("https://h/x")},
//                                 MemoryBody{}, stop);
//   if (outcome) use(outcome->statusCode, outcome->body);
//
// An I/O thread starts with the first transfer it is given: a process that makes one
// request runs one thread, and one that makes none runs none.
//
// Resources stay bounded however many transfers are queued: at most
// `maxActiveTransfers` easy handles are in the multi handle at once (the rest wait in
// a queue), connections are pooled and capped per host and in total, HTTP/2 streams
// share a connection where the server offers it, and a download's file is opened at
// its first byte and closed when it ends.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "client/http_request.h"
#include "client/temporary_file.h"
#include "qelvo/error.h"

namespace qelvo {

struct TransferEngineSettings {
  std::size_t maxConnectionsPerHost = 16;
  std::size_t maxConnections = 32;
  std::size_t maxActiveTransfers = 64;
  long maxRedirects = 10;
  // I/O threads, each with its multi handle and a share of the limits above: at most
  // one per core. Writing thousands of small files costs a core on its own.
  std::size_t maxIoThreads = 2;
  // CA bundle (PEM) used to verify servers, in place of libcurl's default bundle file.
  std::optional<std::filesystem::path> caFile;
};

// Keep the body in memory, up to `maxBytes` (beyond that the transfer fails).
struct MemoryBody {
  std::size_t maxBytes = 64 * 1024 * 1024;
};

// Write the body to a temporary file that `createFile` makes at the first byte (or at
// the end, for an empty body). Called on the engine's thread; must not throw.
struct FileBody {
  std::function<std::expected<TemporaryFile, PlatformError>()> createFile;
};

using BodyTarget = std::variant<MemoryBody, FileBody>;

// A completed exchange, whatever its status.
struct TransferResponse {
  long statusCode = 0;
  Url url;                            // the final URL, after redirects
  std::string body;                   // for a MemoryBody
  std::optional<TemporaryFile> file;  // for a FileBody: closed, removed with this value
  std::optional<std::chrono::seconds> retryAfter{};  // the wait its Retry-After asks for
};

class TransferEngine {
 public:
  // The response, or why there is none: TransferError (libcurl's failure),
  // PlatformError (the body could not be stored), CancellationError.
  using Outcome = std::expected<TransferResponse, Error>;
  using Completion = std::function<void(Outcome)>;

  explicit TransferEngine(TransferEngineSettings settings);
  // Ends every transfer still queued or running with CancellationError.
  ~TransferEngine();
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  // Queues a transfer and returns at once. `completion` runs exactly once, on the
  // engine's thread (never under the engine's lock), when the transfer has ended, has
  // failed, or has been stopped through `stop` (which takes effect at once, queued or
  // running).
  void submit(HttpRequest request, BodyTarget body, std::stop_token stop, Completion completion);

  // `submit`, waited on. Must not be called from the engine's thread.
  Outcome perform(HttpRequest request, BodyTarget body, std::stop_token stop);

 private:
  class Core;
  std::size_t leastBusyCore() const;
  // Starts the thread of core `index` unless it runs already; any thread.
  void ensureRunning(std::size_t index);

  std::vector<std::shared_ptr<Core>> cores_;
  std::vector<std::thread> threads_;                // one per core, started on demand
  std::unique_ptr<std::once_flag[]> threadStarts_;  // one per core
};

}  // namespace qelvo
