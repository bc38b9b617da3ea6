// The deployment that deploy/ ships, run for real on loopback: nginx with
// deploy/nginx/qelvo-deploy.conf in front of two qelvo-deploy-server instances started
// as deploy/systemd/qelvo-deploy-server@.service starts them. Devices (the command-line
// host) sync through nginx: nginx must serve every file from the root and hand every
// check to the instances, both of which must answer some.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/background_process.h"
#include "support/built_program.h"
#include "tools/local_processes.h"
#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

using namespace std::chrono_literals;

const Files kFiles = {{"index.html", "<h1>v1</h1>"},
                      {"js/app.js", std::string(40000, 'a')},
                      {"css/site.css", "body{}"}};

// `text` with every `from` replaced; fails the test when `from` is not there (the
// shipped file changed under the test).
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  EXPECT_NE(text.find(from), std::string::npos) << "no \"" << from << "\" in the shipped file";
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The instance command line of the systemd unit, for this root and port.
std::vector<std::string> unitCommand(const std::filesystem::path& root, int port) {
  std::string unit = readFile(std::filesystem::path(QELVO_DEPLOY_DIR) /
                              "systemd/qelvo-deploy-server@.service");
  std::smatch line;
  EXPECT_TRUE(std::regex_search(unit, line, std::regex("\nExecStart=([^\n]*)")));
  std::string command = replaced(line[1], "/usr/local/bin/qelvo-deploy-server", QELVO_DEPLOY_SERVER_TOOL);
  command = replaced(command, "/srv/qelvo-deploy", root.string());
  command = replaced(command, "%i", std::to_string(port));
  std::vector<std::string> argv;
  std::istringstream words(command);
  for (std::string word; words >> word;) argv.push_back(word);
  return builtProgramCommand(std::move(argv));
}

// The http block of nginx with the shipped site, logging what the test reads, in `dir`.
std::string shippedSite(const std::filesystem::path& dir, const std::filesystem::path& root,
                        int port, int instanceA, int instanceB) {
  std::string site = readFile(std::filesystem::path(QELVO_DEPLOY_DIR) / "nginx/qelvo-deploy.conf");
  site = replaced(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(port) + ";");
  site = replaced(site, "/srv/qelvo-deploy", root.string());
  site = replaced(site, "127.0.0.1:8787", "127.0.0.1:" + std::to_string(instanceA));
  site = replaced(site, "127.0.0.1:8788", "127.0.0.1:" + std::to_string(instanceB));
  writeFile(dir / "site.conf", site);
  return "  log_format front '$status $request_method $uri $upstream_addr';\n"
         "  access_log " + dir.string() + "/access.log front;\n"
         "  include " + dir.string() + "/site.conf;\n";
}

TEST(NginxFront, DevicesSyncThroughNginxInFrontOfTwoInstances) {
  ASSERT_TRUE(findProgram("nginx")) << "nginx is not installed: run scripts/install-deps (it installs nginx)";
  TempDir dir;
  const auto root = dir / "root";
  std::filesystem::create_directories(root);
  std::filesystem::create_directories(dir / "nginx");
  ASSERT_EQ(publishFiles(root, "shop", "v1", kFiles).exitCode, 0);
  // The instances and nginx read the root as whoever they run as.
  std::filesystem::permissions(dir.path(), std::filesystem::perms::others_read |
                                               std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);

  const int portA = freePort(), portB = freePort(), front = freePort();
  BackgroundProcess instanceA(unitCommand(root, portA), dir / "instance-a.log");
  BackgroundProcess instanceB(unitCommand(root, portB), dir / "instance-b.log");
  ASSERT_TRUE(instanceA.waitForOutput("listening on")) << instanceA.output();
  ASSERT_TRUE(instanceB.waitForOutput("listening on")) << instanceB.output();
  auto server = startNginx(dir / "nginx", shippedSite(dir / "nginx", root, front, portA, portB), front);
  ASSERT_TRUE(accepts(front)) << readFile(dir / "nginx/error.log") << server->output();

  const std::string apps = "http://127.0.0.1:" + std::to_string(front) + "/apps";
  CliHost zip(apps, {"--quiet"});
  CliHost differential(apps, {"--quiet"});
  expectSynced(zip.sync({"shop:production"}).at(0), kFiles);
  expectSynced(differential.sync({"shop:production:differential"}).at(0), kFiles);

  // What caches see through nginx, and what nginx never serves.
  httplib::Client client("127.0.0.1", front);
  auto archive = client.Get("/apps/shop/snapshots/v1/bundle.zip");
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->status, 200);
  EXPECT_EQ(archive->get_header_value("Cache-Control"), "public, max-age=31536000, immutable");
  for (const std::string path : {"/apps/shop/channels/production.json",
                                 "/apps/shop/snapshots/v1/snapshot.json", "/apps/shop/.lock",
                                 "/apps/shop/snapshots/v1/files/../snapshot.json"}) {
    auto refused = client.Get(path);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 404) << path;
  }
  // A download resumes on either origin with the validators of the other (each honours
  // its own: DeployServerCaching and ResumableDownload).
  auto fromInstance = httplib::Client("127.0.0.1", portA).Head("/apps/shop/snapshots/v1/bundle.zip");
  ASSERT_TRUE(fromInstance);
  EXPECT_EQ(fromInstance->get_header_value("ETag"), archive->get_header_value("ETag"));
  EXPECT_EQ(fromInstance->get_header_value("Last-Modified"), archive->get_header_value("Last-Modified"));

  server->stop(SIGQUIT);  // nginx finishes writing its log
  instanceA.stop();
  instanceB.stop();
  std::size_t files = 0, checks = 0;
  std::istringstream log(readFile(dir / "nginx/access.log"));
  for (std::string line; std::getline(log, line);) {
    if (line.find("/check-device ") != std::string::npos) {
      ++checks;
      EXPECT_TRUE(line.starts_with("200 POST ")) << line;
    } else if (line.find(" GET /apps/") != std::string::npos && line.ends_with(" -")) {
      ++files;
    }
  }
  EXPECT_EQ(checks, 2u) << "one per sync";
  EXPECT_GE(files, 5u) << "the archive, the manifest and the files, from the root";
  for (const auto* instance : {&instanceA, &instanceB}) {
    auto output = instance->output();
    EXPECT_NE(output.find("\"POST /apps/"), std::string::npos) << "each instance answered checks";
    EXPECT_EQ(output.find("\"GET /apps/shop/snapshots/v1/files"), std::string::npos)
        << "no instance served files that nginx serves";
  }
}

}  // namespace
}  // namespace qelvo::test
