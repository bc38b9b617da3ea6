// A deploy service reached over https that tries to send the device to plain http: an
// archive or manifest URL that is http, or a redirect from https to http. Nothing may be
// fetched over http, and the sync fails at its download step.
#include <gtest/gtest.h>

#include "base/sync_errors.h"
#include "support/loopback_server.h"
#include "support/sync_fixture.h"
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

TEST(HostileTransport, AServiceOverHttpsCannotSendTheDeviceToHttp) {
  TestHost host;
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
    SyncError error = metadataError("", SyncError::FailStep::check, "no error");
    try {
      manager->sync("app").share().get();
      ADD_FAILURE() << "the sync succeeded";
    } catch (const SyncError& thrown) {
      error = thrown;
    }
    EXPECT_EQ(error.failStep, SyncError::FailStep::download);
    EXPECT_NE(error.errorDescription().find("Network Error"), std::string::npos);
    const auto* network = std::get_if<SyncError::Reason::NetworkError>(&error.reason.value);
    ASSERT_NE(network, nullptr);
    const auto* carried = std::get_if<NetworkClientError::NetworkError>(&network->reason.value());
    ASSERT_TRUE(carried && carried->error);
    const auto* transfer = carried->error->get<TransferError>();
    ASSERT_NE(transfer, nullptr) << carried->error->localizedDescription();
    EXPECT_NE(transfer->message.find(c.refused), std::string::npos) << transfer->message;
    EXPECT_EQ(manager->latestAppDirectory("app"), std::nullopt);
  }
  EXPECT_EQ(plain.requestCount(), 0u) << "nothing was ever fetched over http";
}

}  // namespace
}  // namespace qelvo::test
