// An in-process deploy service on 127.0.0.1 for sync tests: it answers check-device
// requests per application, serves published archives, manifests and files from
// memory, and records every request.
//
//   TestDeployServer server;
//   server.offer("app", "snap-1", 1, server.putZip("app", "snap-1", {{"index.html", "<html>"}}));
//   auto manager = std::make_shared<TestManager>(store, server.client(), files);
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "client/live_updates_client.h"
#include "qelvo/manifest.h"
#include "support/loopback_server.h"

namespace qelvo::publishing {
class RsaSigner;
}

namespace qelvo::test {

// Bundle files: href to content.
using Files = std::map<std::string, std::string>;

// The name of a bundle's manifest file.
inline constexpr const char* kManifestFile = "live-update-manifest.json";

class TestDeployServer {
 public:
  TestDeployServer();

  LoopbackServer& http() { return http_; }
  const LoopbackServer& http() const { return http_; }
  // A standard client for this server's "/apps" base URL.
  std::shared_ptr<const LiveUpdatesClient> client() const { return client_; }

  // The check of `appId` answers `status` with `body` (after `delay`).
  void answerCheck(const std::string& appId, int status, std::string body,
                   std::chrono::milliseconds delay = {});
  // The check answers that no update is available.
  void offerNothing(const std::string& appId);
  // The check offers a snapshot; absent fields are left out of the answer.
  void offer(const std::string& appId, std::optional<std::string> snapshot,
             std::optional<std::int64_t> build, std::optional<std::string> url,
             std::chrono::milliseconds delay = {});

  // Serves `content` at `path` (GET) with `status`, after `delay`.
  void serve(const std::string& path, std::string content, int status = 200,
             std::chrono::milliseconds delay = {});
  // Serves the first `sent` bytes of `content` at `path`, announcing its whole length,
  // then sends nothing more until the server stops: a transfer caught half-way.
  void serveStalled(const std::string& path, std::string content, std::size_t sent);
  // Serves a body without end (no length announced) at `path`, until the client gives up
  // or the server stops; `answerCheckEndlessly` does the same for the check of `appId`.
  void serveEndless(const std::string& path);
  void answerCheckEndlessly(const std::string& appId);
  // Serves `content` one byte every `interval`, announcing its whole length; the same for
  // the check of `appId`.
  void serveTrickle(const std::string& path, std::string content, std::chrono::milliseconds interval);
  void answerCheckTrickle(const std::string& appId, std::string content,
                          std::chrono::milliseconds interval);
  // Answers `path` with a redirect (302) to `location`.
  void redirect(const std::string& path, const std::string& location);
  // Serves the files as one archive at /bundles/<appId>/<snapshotId>.zip; its URL.
  std::string putZip(const std::string& appId, const std::string& snapshotId, const Files& files);
  // Serves each file under /bundles/<appId>/<snapshotId>/ and their manifest there, as
  // "live-update-manifest.json" (signed by `signer` when given); the manifest's URL.
  std::string putManifest(const std::string& appId, const std::string& snapshotId,
                          const Files& files, const publishing::RsaSigner* signer = nullptr);

  // Requests whose method and path (as sent) match.
  std::size_t count(const std::string& method, const std::string& pathPattern) const;
  std::size_t checkCount(const std::string& appId) const;

 private:
  struct Resource {
    int status = 200;
    std::string body;
    std::chrono::milliseconds delay{};
    std::optional<std::size_t> stallAfter{};
    bool endless = false;
    std::chrono::milliseconds trickle{};  // the pause between bytes, when not zero
    std::optional<std::string> location{};
  };
  void stream(const Resource& resource, httplib::Response& response);
  void answer(const std::string& key, const httplib::Request& request, httplib::Response& response);

  LoopbackServer http_;
  std::shared_ptr<const LiveUpdatesClient> client_;
  mutable std::mutex mutex_;
  std::map<std::string, Resource> resources_;  // "GET <path>" or "CHECK <appId>"
};

// The manifest item of one file: its href, size and "sha256-" digest.
ManifestItem manifestItem(const std::string& href, const std::string& content);
// Every regular file below `root`, by relative href, with its content.
Files filesIn(const std::filesystem::path& root);
// The manifest JSON ({"payload": ...}) of the files.
std::string manifestOf(const Files& files);
// The files of a file-by-file snapshot directory: `files` and their manifest.
Files withManifestFile(Files files);
// The signed manifest JSON of the files.
std::string signedManifestOf(const Files& files, const publishing::RsaSigner& signer);

}  // namespace qelvo::test
