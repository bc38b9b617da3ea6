// The launch guard through qelvo-live-update, as a host script drives it: launch,
// ready, bad and status, each its own process on one data directory. The guard's rules
// are the library's launch guard tests'; the lines' layout is pinned by the documented
// examples; its usage errors are in the command line's exit-code table.
#include <gtest/gtest.h>

#include "tools/tools_fixture.h"

namespace qelvo::test {
namespace {

using nlohmann::json;

json onlyLine(const ToolRun& run) {
  auto lines = run.jsonLines();
  EXPECT_EQ(lines.size(), 1u) << run.out << run.err;
  return lines.empty() ? json() : lines.front();
}

TEST(LaunchCli, LaunchReadyBadAndStatusRoundTrip) {
  DeployFixture server;
  server.publish("shop", "v1", {{"index.html", "v1"}});
  CliHost host(server.appsUrl(), {"--quiet"});
  const std::string spec = "shop:production";
  auto v1 = host.sync({spec});

  auto launch = host.run({"launch", spec});
  ASSERT_EQ(launch.exitCode, 0) << launch.err;
  auto attempt = onlyLine(launch);
  EXPECT_EQ(attempt["app_id"], "shop");
  EXPECT_EQ(attempt["snapshot"], "v1");
  EXPECT_EQ(attempt["directory"], v1[0]["directory"]);
  EXPECT_EQ(attempt["rolled_back_from"], nullptr);
  auto stale = host.run({"ready", spec, "not-the-attempt"});
  EXPECT_EQ(stale.exitCode, 3);
  EXPECT_EQ(onlyLine(stale)["confirmed"], false);
  auto ready = host.run({"ready", spec, attempt["attempt"].get<std::string>()});
  EXPECT_EQ(ready.exitCode, 0);
  EXPECT_EQ(onlyLine(ready)["confirmed"], true);

  server.publish("shop", "v2", {{"index.html", "v2"}});
  host.sync({spec});
  EXPECT_EQ(onlyLine(host.run({"launch", spec}))["snapshot"], "v2");
  auto bad = host.run({"bad", spec, "white screen"});
  EXPECT_EQ(bad.exitCode, 0);
  EXPECT_EQ(onlyLine(bad)["reported"], true);
  EXPECT_EQ(onlyLine(bad)["directory"], v1[0]["directory"]);
  EXPECT_EQ(host.run({"bad", spec}).exitCode, 3) << "reported already";

  auto status = onlyLine(host.run({"status", spec}));
  EXPECT_EQ(status["current_snapshot"], "v1");
  EXPECT_EQ(status["failed"], json::parse(R"([{"snapshot":"v2","reason":"white screen","failed_at":)"
                                          + status["failed"][0]["failed_at"].dump() + "}]"));
}

}  // namespace
}  // namespace qelvo::test
