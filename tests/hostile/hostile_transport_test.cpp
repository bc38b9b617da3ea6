// A deploy service reached over https that tries to send the device to plain http: an
// archive or manifest URL that is http, or a redirect from https to http. Nothing may be
// fetched over http, and the sync fails at its download step.
#include <gtest/gtest.h>

#include "support/hostile_fixture.h"
#include "support/loopback_server.h"
#include "support/test_certificates.h"

namespace qelvo::test {
namespace {

struct Downgrade {
  std::string what;
  Strategy strategy;
  std::string path;      // what the check offers, on the https server or the plain one
  bool offeredOverHttp;  // the offered URL itself is http
  std::string refused;   // in the error
};

class HostileTransport : public SyncTest {};

TEST_F(HostileTransport, AServiceOverHttpsCannotSendTheDeviceToHttp) {
  TempDir directory;
  const auto certificates = makeTestCertificates(directory.path());
  LoopbackServer secure({.certificateFile = certificates.serverCertificate,
                         .privateKeyFile = certificates.serverKey});
  LoopbackServer plain;
  plain.handle("GET", ".*", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("anything", "application/octet-stream");
  });
  secure.handle("GET", "/to-http/(.*)", [&plain](const httplib::Request& request,
                                                  httplib::Response& response) {
    response.status = 302;
    response.set_header("Location", plain.origin() + "/" + request.matches[1].str());
  });
  std::string offered;
  secure.handle("POST", "/apps/app/channels/check-device",
                [&offered](const httplib::Request&, httplib::Response& response) {
                  response.set_content(R"({"data":{"available":true,"snapshot":"snap-2","build":2,)"
                                       R"("url":")" + offered + R"(","partial":false,)"
                                       R"("compatible":true,"incompatibleUpdateAvailable":false}})",
                                       "application/json");
                });
  auto client = LiveUpdatesClient::make(secure.url("/apps"), {.caFile = certificates.caCertificate});

  const std::vector<Downgrade> cases = {
      {"an http archive", Strategy::zip, "/x.zip", true, "Refused http://"},
      {"an http manifest", Strategy::differential, "/m.json", true, "Refused http://"},
      {"an archive redirected to http", Strategy::zip, "/to-http/x.zip", false,
       "Refused a redirect to a URL that is not https"},
      {"a manifest redirected to http", Strategy::differential, "/to-http/m.json", false,
       "Refused a redirect to a URL that is not https"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto manager = makeTestManager(client, "downgrade-" + std::to_string(++n));
    manager->add(LiveUpdate("app", "production", false, c.strategy));
    offered = (c.offeredOverHttp ? plain.origin() : secure.origin()) + c.path;
    auto error = syncError(*manager, "app");
    EXPECT_EQ(error.failStep, FailStep::download);
    EXPECT_NE(error.errorDescription().find("Network Error"), std::string::npos);
    EXPECT_NE(cause(error).find(c.refused), std::string::npos) << cause(error);
    EXPECT_EQ(manager->latestAppDirectory("app"), std::nullopt);
  }
  EXPECT_EQ(plain.requestCount(), 0u) << "nothing was ever fetched over http";
}

}  // namespace
}  // namespace qelvo::test
