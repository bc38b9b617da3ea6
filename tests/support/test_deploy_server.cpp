#include "support/test_deploy_server.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <regex>

#include "publishing/signed_manifest_writer.h"
#include "retrieval/file_digest.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace qelvo::test {

TestDeployServer::TestDeployServer()
    : client_(LiveUpdatesClient::make(*Url::parse(http_.origin() + "/apps"), {})) {
  http_.handle("POST", "/apps/([^/]+)/channels/check-device",
               [this](const httplib::Request& request, httplib::Response& response) {
                 std::string appId = request.matches.size() > 1 ? request.matches[1].str() : "";
                 answer("CHECK " + httplib::detail::decode_url(appId, false), request, response);
               });
  http_.handle("GET", "/.*", [this](const httplib::Request& request, httplib::Response& response) {
    answer("GET " + request.path, request, response);
  });
}

void TestDeployServer::answer(const std::string& key, const httplib::Request&,
                              httplib::Response& response) {
  Resource resource;
  {
    std::lock_guard lock(mutex_);
    auto it = resources_.find(key);
    if (it == resources_.end()) {
      response.status = 404;
      response.set_content(R"({"error":{"message":"Not found","type":"not_found","event_id":"e"}})",
                           "application/json");
      return;
    }
    resource = it->second;
  }
  if (resource.delay.count() > 0 && http_.waitForStop(resource.delay)) return;
  response.status = resource.status;
  if (resource.location) {
    response.set_redirect(*resource.location);
    return;
  }
  if (resource.endless || resource.trickle.count() > 0) return stream(resource, response);
  if (!resource.stallAfter) {
    response.set_content(resource.body, "application/octet-stream");
    return;
  }
  const std::size_t sent = std::min(*resource.stallAfter, resource.body.size());
  response.set_content_provider(
      resource.body.size(), "application/octet-stream",
      [this, body = std::move(resource.body), sent](std::size_t offset, std::size_t,
                                                    httplib::DataSink& sink) {
        if (offset < sent) return sink.write(body.data() + offset, sent - offset);
        http_.waitForStop(std::chrono::hours(1));
        return false;
      });
}

void TestDeployServer::stream(const Resource& resource, httplib::Response& response) {
  if (resource.endless) {
    response.set_chunked_content_provider(
        "application/octet-stream", [this](std::size_t, httplib::DataSink& sink) {
          static const std::string chunk(64 * 1024, ' ');
          return !http_.waitForStop(std::chrono::milliseconds(0)) &&
                 sink.write(chunk.data(), chunk.size());
        });
    return;
  }
  response.set_content_provider(
      resource.body.size(), "application/octet-stream",
      [this, body = resource.body, pause = resource.trickle](std::size_t offset, std::size_t,
                                                             httplib::DataSink& sink) {
        if (offset > 0 && http_.waitForStop(pause)) return false;
        return sink.write(body.data() + offset, 1);
      });
}

void TestDeployServer::serveEndless(const std::string& path) {
  std::lock_guard lock(mutex_);
  resources_["GET " + path] = Resource{};
  resources_["GET " + path].endless = true;
}

void TestDeployServer::answerCheckEndlessly(const std::string& appId) {
  std::lock_guard lock(mutex_);
  resources_["CHECK " + appId] = Resource{};
  resources_["CHECK " + appId].endless = true;
}

void TestDeployServer::serveTrickle(const std::string& path, std::string content,
                                    std::chrono::milliseconds interval) {
  std::lock_guard lock(mutex_);
  auto& resource = resources_["GET " + path] = Resource{};
  resource.body = std::move(content);
  resource.trickle = interval;
}

void TestDeployServer::answerCheckTrickle(const std::string& appId, std::string content,
                                          std::chrono::milliseconds interval) {
  std::lock_guard lock(mutex_);
  auto& resource = resources_["CHECK " + appId] = Resource{};
  resource.body = std::move(content);
  resource.trickle = interval;
}

void TestDeployServer::redirect(const std::string& path, const std::string& location) {
  std::lock_guard lock(mutex_);
  auto& resource = resources_["GET " + path] = Resource{};
  resource.status = 302;
  resource.location = location;
}

void TestDeployServer::answerCheck(const std::string& appId, int status, std::string body,
                                   std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  auto& resource = resources_["CHECK " + appId] = Resource{};
  resource.status = status;
  resource.body = std::move(body);
  resource.delay = delay;
}

void TestDeployServer::offerNothing(const std::string& appId) {
  answerCheck(appId, 200,
              R"({"data":{"available":false,"partial":false,"compatible":true,"incompatibleUpdateAvailable":false}})");
}

void TestDeployServer::offer(const std::string& appId, std::optional<std::string> snapshot,
                             std::optional<std::int64_t> build, std::optional<std::string> url,
                             std::chrono::milliseconds delay) {
  nlohmann::json data = {{"available", true},
                         {"partial", false},
                         {"compatible", true},
                         {"incompatibleUpdateAvailable", false}};
  if (snapshot) data["snapshot"] = *snapshot;
  if (build) data["build"] = *build;
  if (url) data["url"] = *url;
  answerCheck(appId, 200, nlohmann::json{{"data", data}}.dump(), delay);
}

void TestDeployServer::serve(const std::string& path, std::string content, int status,
                             std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  auto& resource = resources_["GET " + path] = Resource{};
  resource.status = status;
  resource.body = std::move(content);
  resource.delay = delay;
}

void TestDeployServer::serveStalled(const std::string& path, std::string content,
                                    std::size_t sent) {
  std::lock_guard lock(mutex_);
  auto& resource = resources_["GET " + path] = Resource{};
  resource.body = std::move(content);
  resource.stallAfter = sent;
}

std::string TestDeployServer::putZip(const std::string& appId, const std::string& snapshotId,
                                     const Files& files) {
  TempDir dir;
  ZipBuilder builder;
  for (const auto& [href, content] : files) builder.file(href, content);
  builder.write(dir / "bundle.zip");
  const std::string path = "/bundles/" + appId + "/" + snapshotId + ".zip";
  serve(path, readFile(dir / "bundle.zip"));
  return http_.origin() + path;
}

std::string TestDeployServer::putManifest(const std::string& appId, const std::string& snapshotId,
                                          const Files& files, const publishing::RsaSigner* signer) {
  const std::string base = "/bundles/" + appId + "/" + snapshotId + "/";
  for (const auto& [href, content] : files) serve(base + href, content);
  serve(base + kManifestFile, signer ? signedManifestOf(files, *signer) : manifestOf(files));
  return http_.origin() + base + kManifestFile;
}

std::size_t TestDeployServer::count(const std::string& method, const std::string& pathPattern) const {
  std::regex pattern(pathPattern);
  std::size_t n = 0;
  for (const auto& request : http_.requests()) {
    if (request.method == method && std::regex_match(request.path, pattern)) ++n;
  }
  return n;
}

std::size_t TestDeployServer::checkCount(const std::string& appId) const {
  return count("POST", "/apps/" + appId + "/channels/check-device");
}

ManifestItem manifestItem(const std::string& href, const std::string& content) {
  return {href, content.size(), contentDigestText(content)};
}

Files filesIn(const std::filesystem::path& root) {
  Files files;
  for (const auto& href : listFiles(root)) files[href] = readFile(root / href);
  return files;
}

namespace {
std::vector<ManifestItem> itemsOf(const Files& files) {
  std::vector<ManifestItem> items;
  for (const auto& [href, content] : files) items.push_back(manifestItem(href, content));
  return items;
}
}  // namespace

std::string manifestOf(const Files& files) { return Manifest::fromItems(itemsOf(files)).encode(); }

Files withManifestFile(Files files) {
  files[kManifestFile] = manifestOf(files);
  return files;
}

std::string signedManifestOf(const Files& files, const publishing::RsaSigner& signer) {
  auto payload = Manifest::fromItems(itemsOf(files))._payload;
  return publishing::encodeSignedManifest(payload, {publishing::signPayload(signer, payload)});
}

}  // namespace qelvo::test
