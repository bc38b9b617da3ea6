// An archive whose transfer was cut off half-way resumes on the next sync with a range
// request, through the deploy server and through nginx serving the deploy root, and
// starts over when the file on the server changed in between.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "support/cutting_relay.h"
#include "tools/local_processes.h"
#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A bundle whose archive does not deflate: random bytes, `bytes` of them.
Files incompressible(unsigned seed, std::size_t bytes) {
  std::mt19937 random(seed);
  std::string data(bytes, '\0');
  for (auto& byte : data) byte = static_cast<char>(random());
  return {{"index.html", "<h1>" + std::to_string(seed) + "</h1>"}, {"media/film.bin", data}};
}

void expectFiles(const nlohmann::json& line, const Files& files) {
  ASSERT_EQ(line["ok"], true) << line.dump();
  for (const auto& [href, content] : files) {
    EXPECT_EQ(readFile(fs::path(line["directory"].get<std::string>()) / href), content) << href;
  }
}

// The parts of interrupted downloads that a host's work area keeps, and their sizes.
std::map<std::string, std::uintmax_t> keptParts(const CliHost& host) {
  std::map<std::string, std::uintmax_t> parts;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(host.dataDir() / "tmp/qelvo-work/partial", ec)) {
    if (!entry.path().string().ends_with(".validator"))
      parts[entry.path().filename()] = entry.file_size();
  }
  return parts;
}

// nginx serving the files of `root` on `port`.
std::unique_ptr<Child> startNginx(const fs::path& dir, const fs::path& root, int port) {
  auto nginx = findProgram("nginx");
  if (!nginx) return nullptr;
  fs::create_directories(dir);
  const auto* user = ::getpwuid(::geteuid());
  const std::string d = dir.string();
  writeFile(dir / "nginx.conf", "daemon off;\nworker_processes 1;\nuser " +
                                    std::string(user ? user->pw_name : "nobody") + ";\npid " + d +
                                    "/nginx.pid;\nerror_log " + d +
                                    "/error.log warn;\n"
                                    "events { worker_connections 64; }\n"
                                    "http {\n  access_log off;\n  client_body_temp_path " +
                                    d +
                                    "/body;\n"
                                    "  proxy_temp_path " +
                                    d + "/proxy;\n  fastcgi_temp_path " + d +
                                    "/fastcgi;\n"
                                    "  uwsgi_temp_path " +
                                    d + "/uwsgi;\n  scgi_temp_path " + d +
                                    "/scgi;\n"
                                    "  server {\n    listen 127.0.0.1:" +
                                    std::to_string(port) +
                                    ";\n"
                                    "    location /apps/ { root " +
                                    root.string() + "; }\n  }\n}\n");
  auto server =
      std::make_unique<Child>(std::vector<std::string>{*nginx, "-p", d + "/", "-e",
                                                       d + "/error.log", "-c", d + "/nginx.conf"},
                              dir / "stdout.log");
  for (int i = 0; i < 500 && server->running() && !accepts(port); ++i)
    std::this_thread::sleep_for(10ms);
  return server;
}

// The deploy server answers the checks; the archives come from `origin` through a relay
// that cuts them off when told.
struct Origin {
  std::string name{};
  std::unique_ptr<CuttingRelay> files{};
  std::unique_ptr<DeployFixture> deploy{};
  std::unique_ptr<Child> nginx{};
  std::string server{};  // the host's --server
};

Origin throughDeployServer() {
  Origin setup{.name = "deploy server"};
  setup.deploy = std::make_unique<DeployFixture>();
  setup.files = std::make_unique<CuttingRelay>(setup.deploy->port());
  // Answers name the origin the check came to: the relay, for archives as well.
  setup.server = "http://127.0.0.1:" + std::to_string(setup.files->port()) + "/apps";
  return setup;
}

Origin throughNginx() {
  Origin setup{.name = "nginx"};
  const int port = freePort();
  setup.files = std::make_unique<CuttingRelay>(port);
  setup.deploy = std::make_unique<DeployFixture>(deploy::DeployServerOptions{
      .filesUrl = "http://127.0.0.1:" + std::to_string(setup.files->port()) + "/apps"});
  // nginx's worker reads the root as whoever it runs as.
  fs::permissions(setup.deploy->dir().path(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  setup.nginx = startNginx(setup.deploy->dir() / "nginx", setup.deploy->root().path(), port);
  setup.server = setup.deploy->appsUrl();
  return setup;
}

TEST(ResumableDownload,
     ACutArchiveResumesWhileTheServersFileIsUnchangedAndStartsOverWhenItChanged) {
  for (auto* make : {&throughDeployServer, &throughNginx}) {
    Origin setup = make();
    ASSERT_TRUE(setup.name != "nginx" || (setup.nginx && setup.nginx->running()))
        << "nginx is not installed or did not start: run scripts/install-deps (it installs nginx)";
    SCOPED_TRACE(setup.name);
    auto& deploy = *setup.deploy;
    auto& relay = *setup.files;
    CliHost host(setup.server, {"--quiet"});
    const auto snapshots = deploy.root().path() / "apps/film/snapshots";

    const auto v1 = incompressible(1, 3 << 20);
    deploy.publish("film", "v1", v1);
    const auto archive = fs::file_size(snapshots / "v1/bundle.zip");
    relay.cutAt(archive / 2);
    auto cut = host.run({"sync", "film:production"});
    EXPECT_NE(cut.exitCode, 0) << cut.out;
    auto parts = keptParts(host);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_GT(parts.begin()->second, archive / 2 - 4096);
    EXPECT_LE(parts.begin()->second, archive / 2);

    relay.resetCount();
    auto resumed = host.sync({"film:production"});
    ASSERT_EQ(resumed.size(), 1u);
    expectFiles(resumed[0], v1);
    EXPECT_LE(relay.answerBytes(), archive / 2 + archive / 20) << "at most 5% fetched twice";
    EXPECT_TRUE(keptParts(host).empty());
    EXPECT_FALSE(fs::exists(host.dataDir() / "tmp/qelvo-work/partial"));

    // v2 is cut off, then its archive changes on the server (another size, another
    // time): the kept part is useless, and the whole new archive arrives.
    const auto v2 = incompressible(2, 3 << 20);
    const auto replacement = incompressible(3, (3 << 20) + 1000);
    deploy.publish("film", "v2", v2);
    deploy.publish("film", "v3", replacement, "staging");
    relay.cutAt(fs::file_size(snapshots / "v2/bundle.zip") / 2);
    EXPECT_NE(host.run({"sync", "film:production"}).exitCode, 0);
    ASSERT_EQ(keptParts(host).size(), 1u);
    std::this_thread::sleep_for(1100ms);  // a Last-Modified of its own
    fs::copy_file(snapshots / "v3/bundle.zip", snapshots / "v2/bundle.zip",
                  fs::copy_options::overwrite_existing);
    relay.resetCount();
    auto restarted = host.sync({"film:production"});
    ASSERT_EQ(restarted.size(), 1u);
    expectFiles(restarted[0], replacement);
    EXPECT_GE(relay.answerBytes(), fs::file_size(snapshots / "v3/bundle.zip"));
    EXPECT_TRUE(keptParts(host).empty());
  }
}

}  // namespace
}  // namespace qelvo::test
