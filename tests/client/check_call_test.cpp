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

TEST(CheckCall, PostsTheRequestAsJsonToTheAppsCheckDevicePath) {
  LoopbackServer server;
  answerChecks(server, 200, kMinimalData);

  ASSERT_TRUE(check(server, "abc").has_value());
  ASSERT_TRUE(check(server, "my app/v2").has_value());

  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/apps/abc/channels/check-device");
  EXPECT_EQ(requests[0].query, "");
  EXPECT_EQ(requests[0].header("Content-Type"), "application/json; charset=utf-8");
  // The app id stays one path component.
  EXPECT_EQ(requests[1].path, "/apps/my%20app%2Fv2/channels/check-device");

  auto body = nlohmann::json::parse(requests[0].body);
  EXPECT_EQ(body["plugin_version"], "6.0.0");
  EXPECT_EQ(body["app_id"], "abc");
  EXPECT_EQ(body["channel_name"], "production");
  EXPECT_EQ(body["manifest"], true);
  EXPECT_EQ(body["is_zarrows"], detectZarrowsEmbedding());
  // Optional device keys are written only when present.
  EXPECT_EQ(body["device"], (nlohmann::json{{"platform", "ios"},
                                            {"platform_version", "6.1.0"},
                                            {"binary_version", "2.4.0"},
                                            {"device_id", sampleDevice().deviceId},
                                            {"snapshot", "snap-0"}}));
  EXPECT_EQ(body.size(), 6u);
}

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

// (An unreachable service is the sync's own case: its TransferError reaches the caller.)
TEST(CheckCall, AnInformationalAnswerIsATransferFailure) {
  // A 1xx answer is never final in HTTP: the exchange fails instead of succeeding.
  LoopbackServer server;
  answerChecks(server, 199, kMinimalData);
  auto informational = check(server, "abc");
  ASSERT_FALSE(informational.has_value());
  EXPECT_NE(informational.error().get<TransferError>(), nullptr)
      << informational.error().localizedDescription();
}

TEST(CheckCall, InvalidTextIsAnEncodingErrorAndNothingIsSent) {
  LoopbackServer server;
  answerChecks(server, 200, kMinimalData);
  auto outcome = check(server, std::string("bad\xff", 4));
  ASSERT_FALSE(outcome.has_value());
  EXPECT_NE(outcome.error().get<EncodingError>(), nullptr);
  EXPECT_EQ(server.requestCount(), 0u);
}

}  // namespace
}  // namespace qelvo
