#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "client/live_updates_client.h"
#include "support/loopback_server.h"

namespace qelvo {
namespace {

using test::LoopbackServer;

Device sampleDevice() {
  return Device{.platform = "ios",
                .platformVersion = "6.1.0",
                .binaryVersion = "2.4.0",
                .deviceId = "5D3C1A2B-0000-4000-8000-000000000001",
                .snapshot = "snap-0",
                .build = std::nullopt};
}

// Answers every check-device request with `status` and `body`.
void answerChecks(LoopbackServer& server, int status, std::string body) {
  server.handle("POST", "/apps/.*",
                [status, body](const httplib::Request&, httplib::Response& res) {
                  res.status = status;
                  res.set_content(body, "application/json");
                });
}

std::expected<SuccessResponseData, Error> check(LoopbackServer& server, const std::string& appId) {
  auto client = LiveUpdatesClient::make(server.url("/apps"), {});
  return client->checkForUpdate(CheckRequest(sampleDevice(), true, appId, "production"), {}, {});
}

constexpr const char* kMinimalData =
    R"({"data":{"available":false,"partial":false,"compatible":true,"incompatibleUpdateAvailable":false}})";

struct StatusCase {
  int status;
  std::string body;
  // Exactly one of these describes the expected outcome.
  std::optional<SuccessResponseData> data;
  std::optional<NetworkClientError> error;
};

TEST(CheckCall, StatusAndBodyDecideTheOutcome) {
  SuccessResponseData minimal{};
  minimal.compatible = true;
  SuccessResponseData offered{.url = "https://cdn.example/b.zip",
                              .available = true,
                              .snapshot = "snap-1",
                              .partial = false,
                              .build = 12,
                              .compatible = true,
                              .incompatibleUpdateAvailable = false};
  BraxoErrorResponse bare{
      {.link = std::nullopt, .message = "m", .type = "t", .details = std::nullopt, .eventId = "e"}};
  BraxoErrorResponse full{{.link = "https://help",
                           .message = "Bad channel",
                           .type = "invalid",
                           .details =
                               std::vector<BraxoErrorResponse::LiveUpdateError::Details>{
                                   {"channel_name", {"unknown", "retired"}, "value"}},
                           .eventId = "ev-9"}};
  auto invalid = [](long status, const LoopbackServer& server) {
    return NetworkClientError::invalidResponse(
        HttpResponse{status, server.url("/apps/abc/channels/check-device")});
  };

  std::vector<StatusCase> cases = {
      {200, kMinimalData, minimal, std::nullopt},
      {299, kMinimalData, minimal, std::nullopt},
      {200,
       R"({"data":{"url":"https://cdn.example/b.zip","available":true,"snapshot":"snap-1",)"
       R"("partial":false,"build":12,"compatible":true,"incompatibleUpdateAvailable":false}})",
       offered, std::nullopt},
      {300, kMinimalData, std::nullopt, std::nullopt},
      {404, R"({"error":{"message":"m","type":"t","event_id":"e"}})", std::nullopt,
       NetworkClientError::qelvo(bare)},
      {422,
       R"({"error":{"link":"https://help","message":"Bad channel","type":"invalid",)"
       R"("event_id":"ev-9","details":[{"parameter":"channel_name",)"
       R"("errors":["unknown","retired"],"error_type":"value"}]}})",
       std::nullopt, NetworkClientError::qelvo(full)},
      {500, "", std::nullopt, std::nullopt},
      {503, "<html>busy</html>", std::nullopt, std::nullopt},
      // A success status never reads an error envelope: a body that is not data is a
      // decoding error.
      {200, R"({"error":{"message":"m","type":"t","event_id":"e"}})", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("status " + std::to_string(c.status) + " body " + c.body);
    LoopbackServer server;
    answerChecks(server, c.status, c.body);
    auto outcome = check(server, "abc");
    if (c.data) {
      ASSERT_TRUE(outcome.has_value()) << outcome.error().localizedDescription();
      EXPECT_EQ(*outcome, *c.data);
      continue;
    }
    ASSERT_FALSE(outcome.has_value());
    const auto* error = outcome.error().get<NetworkClientError>();
    ASSERT_NE(error, nullptr) << outcome.error().localizedDescription();
    if (c.error) {
      EXPECT_EQ(*error, *c.error);
    } else if (isSuccessStatus(c.status)) {
      EXPECT_TRUE(std::holds_alternative<NetworkClientError::DecodingError>(error->value()));
    } else {
      EXPECT_EQ(*error, invalid(c.status, server));
    }
  }
}

}  // namespace
}  // namespace qelvo
