// What the tools' tests share: running a tool as its own process, a deploy root served
// by an in-process deploy server on 127.0.0.1, and a command-line host with a data
// directory of its own.
#pragma once

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "deploy_server/deploy_server.h"
#include "publishing/snapshot_publisher.h"
#include "support/temp_dir.h"
#include "support/test_deploy_server.h"
#include "support/tool_run.h"

namespace qelvo::test {

class DeployFixture {
 public:
  explicit DeployFixture(deploy::DeployServerOptions options = {});

  const publishing::DeployRoot& root() const { return root_; }
  std::string appsUrl() const { return server_->appsUrl(); }
  int port() const { return server_->port(); }
  const TempDir& dir() const { return dir_; }

  // Publishes `files` as snapshot `id` of `app` and moves `channel` to it; `more` gives
  // the request's other fields.
  publishing::PublishedSnapshot publish(const std::string& app, const std::string& id,
                                        const Files& files,
                                        const std::string& channel = "production",
                                        publishing::PublishRequest more = {});

  // How many access-log lines so far contain `text`.
  std::size_t requests(const std::string& text) const;

 private:
  TempDir dir_;
  publishing::DeployRoot root_;
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::unique_ptr<deploy::DeployServer> server_;
};

// qelvo-live-update on a data directory of its own, talking to `server`.
class CliHost {
 public:
  explicit CliHost(std::string server, std::vector<std::string> globalOptions = {});

  ToolRun run(const std::vector<std::string>& args) const;
  // The command line of `run`, for a process started in the background.
  std::vector<std::string> command(const std::vector<std::string>& args) const;
  // `run` of a sync; the JSON object of each app, in order.
  std::vector<nlohmann::json> sync(const std::vector<std::string>& specs,
                                   int expectedExit = 0) const;
  const std::filesystem::path& dataDir() const { return dataDir_.path(); }

 private:
  std::vector<std::string> arguments(const std::vector<std::string>& args) const;

  TempDir dataDir_;
  std::string server_;
  std::vector<std::string> globalOptions_;
};

// qelvo-publish publishing `files` as snapshot `id` of `app` into `root` on channel
// production, with `extra` options.
ToolRun publishFiles(const std::filesystem::path& root, const std::string& app,
                     const std::string& id, const Files& files,
                     const std::vector<std::string>& extra = {});
// The body of a device's check of `app` on production for an archive, as the library
// sends it.
std::string checkBody(const std::string& app, const std::string& deviceId = "D-1");

// Each of `files` has its content in `directory`.
void expectFilesIn(const std::filesystem::path& directory, const Files& files);
// `line` (an app's JSON line) reports a sync whose directory holds `files`.
void expectSynced(const nlohmann::json& line, const Files& files);

}  // namespace qelvo::test
