#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "qelvo/live_update.h"

namespace qelvo {
namespace {

using Strategy = LiveUpdate::Strategy;

TEST(LiveUpdateJson, RoundTripsWithCamelCaseKeysAndRefusesInvalidUtf8) {
  LiveUpdate zip("app", "production", true, Strategy::zip);
  EXPECT_EQ(nlohmann::json::parse(zip.toJson()),
            nlohmann::json::parse(
                R"({"appId":"app","channel":"production","syncOnAdd":true,"strategy":"zip"})"));
  EXPECT_EQ(LiveUpdate::fromJson(zip.toJson()).value(), zip);

  LiveUpdate differential("\u00e9", "", false, Strategy::differential);
  EXPECT_EQ(nlohmann::json::parse(differential.toJson())["strategy"], "differential");
  EXPECT_EQ(LiveUpdate::fromJson(differential.toJson()).value(), differential);
  EXPECT_THROW(LiveUpdate("\xff", "c", false, Strategy::zip).toJson(), EncodingError);
}

TEST(LiveUpdateJson, DecodingRequiresAllFourKeysAndAKnownStrategy) {
  struct Case {
    const char* json;
    const char* codingPath;
  };
  const Case cases[] = {
      {R"({"appId":"a","channel":"c","syncOnAdd":true,"strategy":"ZIP"})", "strategy"},
      {R"({"appId":"a","channel":"c","syncOnAdd":true,"strategy":"delta"})", "strategy"},
      {R"({"appId":"a","channel":"c","syncOnAdd":true})", "strategy"},
      {R"({"appId":"a","channel":"c","syncOnAdd":"true","strategy":"zip"})", "syncOnAdd"},
      {R"({"app_id":"a","channel":"c","syncOnAdd":true,"strategy":"zip"})", "appId"},
      {R"({"appId":"a","channel":null,"syncOnAdd":true,"strategy":"zip"})", "channel"},
      {R"(["a","c",true,"zip"])", ""},
  };
  for (const auto& c : cases) {
    auto decoded = LiveUpdate::fromJson(c.json);
    ASSERT_FALSE(decoded) << c.json;
    EXPECT_EQ(decoded.error().codingPath, c.codingPath) << c.json;
  }
  EXPECT_EQ(LiveUpdate::fromJson(R"({"appId":"a","channel":"c","syncOnAdd":true,"strategy":"ZIP"})")
                .error()
                .description,
            "Cannot initialize Strategy from invalid String value ZIP");
}

}  // namespace
}  // namespace qelvo
