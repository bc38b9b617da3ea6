#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <unordered_set>

#include "qelvo/live_update.h"

namespace qelvo {
namespace {

using Strategy = LiveUpdate::Strategy;

TEST(LiveUpdateJson, RoundTripsWithCamelCaseKeys) {
  LiveUpdate zip("app", "production", true, Strategy::zip);
  EXPECT_EQ(nlohmann::json::parse(zip.toJson()),
            nlohmann::json::parse(
                R"({"appId":"app","channel":"production","syncOnAdd":true,"strategy":"zip"})"));
  EXPECT_EQ(LiveUpdate::fromJson(zip.toJson()).value(), zip);

  LiveUpdate differential("\u00e9", "", false, Strategy::differential);
  EXPECT_EQ(nlohmann::json::parse(differential.toJson())["strategy"], "differential");
  EXPECT_EQ(LiveUpdate::fromJson(differential.toJson()).value(), differential);
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

TEST(LiveUpdateJson, EqualityAndHashCoverEveryField) {
  const LiveUpdate base("a", "c", false, Strategy::zip);
  std::unordered_set<LiveUpdate> set = {base,
                                        LiveUpdate("b", "c", false, Strategy::zip),
                                        LiveUpdate("a", "d", false, Strategy::zip),
                                        LiveUpdate("a", "c", true, Strategy::zip),
                                        LiveUpdate("a", "c", false, Strategy::differential),
                                        LiveUpdate("a", "c", false, Strategy::zip)};
  EXPECT_EQ(set.size(), 5u);
  EXPECT_EQ(std::hash<LiveUpdate>{}(base), std::hash<LiveUpdate>{}(LiveUpdate(base)));
  EXPECT_EQ(LiveUpdate::rawValue(Strategy::zip), "zip");
  EXPECT_EQ(LiveUpdate::rawValue(Strategy::differential), "differential");
}

TEST(LiveUpdateJson, EncodingInvalidUtf8Throws) {
  EXPECT_THROW(LiveUpdate("\xff", "c", false, Strategy::zip).toJson(), EncodingError);
}

}  // namespace
}  // namespace qelvo
