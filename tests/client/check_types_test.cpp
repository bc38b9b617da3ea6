#include "client/check_types.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "qelvo/configuration.h"

namespace qelvo {
namespace {

using nlohmann::json;

const Device kDevice{"ios", "6.1", "2.0.0", "DEV-1", std::nullopt, std::nullopt};

TEST(CheckTypes, RequestReadBackRecomputesPluginVersionAndEmbedding) {
  json written = {{"device",
                   {{"platform", "ios"},
                    {"platform_version", "6.1"},
                    {"binary_version", "2.0.0"},
                    {"device_id", "DEV-1"},
                    {"build", "77"}}},
                  {"manifest", true},
                  {"app_id", "abc"},
                  {"channel_name", "beta"},
                  {"plugin_version", "5.9.9"},
                  {"is_zarrows", true}};
  auto request = CheckRequest::fromJson(written.dump());
  ASSERT_TRUE(request.has_value()) << request.error().description;
  EXPECT_EQ(request->pluginVersion, "6.0.0");
  EXPECT_FALSE(request->isZarrows);
  EXPECT_EQ(request->device.build, "77");

  for (const char* key : {"device", "manifest", "app_id", "channel_name"}) {
    json missing = written;
    missing.erase(key);
    auto decoded = CheckRequest::fromJson(missing.dump());
    ASSERT_FALSE(decoded.has_value()) << key;
    EXPECT_EQ(decoded.error().codingPath, key);
  }
  json noPlatform = written;
  noPlatform["device"].erase("platform");
  EXPECT_EQ(CheckRequest::fromJson(noPlatform.dump()).error().codingPath, "device.platform");
}

TEST(CheckTypes, EmbeddingIsDetectedFromTheNamedComponents) {
  EXPECT_FALSE(CheckRequest(kDevice, false, "a", "c").isZarrows);
  declareLoadedComponent("KPRZarrowsPlugin");
  EXPECT_TRUE(CheckRequest(kDevice, false, "a", "c").isZarrows);
}

// (The smallest answer, and a full one, are the check call's own cases.)
TEST(CheckTypes, SuccessResponseDecodesStrictly) {
  auto built = SuccessResponse::fromJson(
      R"({"data":{"available":true,"partial":false,"compatible":true,"build":12,"url":null,)"
      R"("incompatibleUpdateAvailable":false}})");
  ASSERT_TRUE(built.has_value());
  EXPECT_EQ(built->data.build, 12);
  EXPECT_EQ(built->data.url, std::nullopt);

  const char* invalid[] = {
      R"({"data":{"available":false,"compatible":true,"incompatibleUpdateAvailable":false}})",
      R"({"data":{"available":false,"partial":false,"compatible":true,"incompatibleUpdateAvailable":false,"build":"12"}})",
      R"({"data":{"available":false,"partial":false,"compatible":true,"incompatibleUpdateAvailable":false,"build":1.5}})",
      R"({"data":{"available":0,"partial":false,"compatible":true,"incompatibleUpdateAvailable":false}})",
      R"({"data":{"available":false,"partial":false,"compatible":true,"incompatibleupdateavailable":false}})",
      R"({"data":null})",
      R"([])",
  };
  for (const char* text : invalid) EXPECT_FALSE(SuccessResponse::fromJson(text)) << text;
  EXPECT_EQ(SuccessResponse::fromJson(invalid[0]).error().codingPath, "data.partial");
  EXPECT_EQ(SuccessResponse::fromJson(invalid[1]).error().codingPath, "data.build");

  SuccessResponse full{{"https://u", true, "s", true, -3, false, true}};
  EXPECT_EQ(SuccessResponse::fromJson(full.toJson().value())->data, full.data);
}

TEST(CheckTypes, ErrorEnvelopeRoundTripsAndRequiresItsKeys) {
  BraxoErrorResponse response{{"https://help", "m", "t",
                               std::vector<BraxoErrorResponse::LiveUpdateError::Details>{
                                   {"app_id", {"unknown"}, "invalid"}},
                               "e"}};
  auto text = encodeBraxoErrorResponse(response).value();
  EXPECT_EQ(json::parse(text)["error"]["event_id"], "e");
  EXPECT_EQ(decodeBraxoErrorResponse(text), response);

  EXPECT_FALSE(decodeBraxoErrorResponse(R"({"error":{"message":"m","type":"t"}})"));
  EXPECT_FALSE(decodeBraxoErrorResponse(
      R"({"error":{"message":"m","type":"t","event_id":"e","details":[{"parameter":"p","errors":[1],"error_type":"x"}]}})"));
  EXPECT_FALSE(decodeBraxoErrorResponse(""));
}

}  // namespace
}  // namespace qelvo
