#include "tools/tools_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "support/built_program.h"

namespace qelvo::test {

DeployFixture::DeployFixture(deploy::DeployServerOptions options) : root_(dir_ / "root") {
  std::filesystem::create_directories(root_.path());
  options.root = root_.path();
  options.accessLog = [this](std::string_view line) {
    std::lock_guard lock(mutex_);
    log_.emplace_back(line);
  };
  server_ = std::make_unique<deploy::DeployServer>(std::move(options));
  server_->start();
}

publishing::PublishedSnapshot DeployFixture::publish(const std::string& app, const std::string& id,
                                                     const Files& files, const std::string& channel,
                                                     publishing::PublishRequest more) {
  TempDir source;
  for (const auto& [href, content] : files) writeFile(source / href, content);
  more.app = app;
  more.source = source.path();
  more.snapshotId = id;
  more.channel = channel;
  auto published = publishSnapshot(root_, more);
  if (!published) throw std::runtime_error(published.error());
  return *published;
}

std::size_t DeployFixture::requests(const std::string& text) const {
  std::lock_guard lock(mutex_);
  return std::count_if(log_.begin(), log_.end(), [&](const std::string& line) {
    return line.find(text) != std::string::npos;
  });
}

CliHost::CliHost(std::string server, std::vector<std::string> globalOptions)
    : server_(std::move(server)), globalOptions_(std::move(globalOptions)) {}

std::vector<std::string> CliHost::arguments(const std::vector<std::string>& args) const {
  std::vector<std::string> all{"--data-dir", dataDir_.path().string(), "--server", server_};
  all.insert(all.end(), globalOptions_.begin(), globalOptions_.end());
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

ToolRun CliHost::run(const std::vector<std::string>& args) const {
  return runTool(QELVO_LIVE_UPDATE_TOOL, arguments(args));
}

std::vector<std::string> CliHost::command(const std::vector<std::string>& args) const {
  auto all = arguments(args);
  all.insert(all.begin(), QELVO_LIVE_UPDATE_TOOL);
  return builtProgramCommand(std::move(all));
}

std::vector<nlohmann::json> CliHost::sync(const std::vector<std::string>& specs,
                                          int expectedExit) const {
  std::vector<std::string> args{"sync"};
  args.insert(args.end(), specs.begin(), specs.end());
  auto run = this->run(args);
  EXPECT_EQ(run.exitCode, expectedExit) << run.out << run.err;
  return run.jsonLines();
}

ToolRun publishFiles(const std::filesystem::path& root, const std::string& app,
                     const std::string& id, const Files& files,
                     const std::vector<std::string>& extra) {
  TempDir source;
  for (const auto& [href, content] : files) writeFile(source / href, content);
  std::vector<std::string> args{"publish", "--root", root.string(), "--app", app,
                                "--channel", "production", "--snapshot", id};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(source.path().string());
  return runTool(QELVO_PUBLISH_TOOL, args);
}

std::string checkBody(const std::string& app, const std::string& deviceId) {
  return nlohmann::json{{"device",
                         {{"platform", "ios"},
                          {"platform_version", "17"},
                          {"binary_version", "1.0.0"},
                          {"device_id", deviceId}}},
                        {"manifest", false},
                        {"app_id", app},
                        {"channel_name", "production"}}
      .dump();
}

void expectFilesIn(const std::filesystem::path& directory, const Files& files) {
  for (const auto& [href, content] : files) EXPECT_EQ(readFile(directory / href), content) << href;
}

void expectSynced(const nlohmann::json& line, const Files& files) {
  ASSERT_EQ(line["ok"], true) << line.dump();
  expectFilesIn(line["directory"].get<std::string>(), files);
}

}  // namespace qelvo::test
