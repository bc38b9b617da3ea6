#include "store/records_json.h"

#include <gtest/gtest.h>

#include <vector>

namespace qelvo {
namespace {

using namespace std::chrono;

const Date kReference = sys_days{year{2001} / 1 / 1};

// The stored form, byte for byte: keys, dates in seconds since 2001, sets in order of id.
TEST(RecordsJson, AppEncodesToTheStoredFormAndDecodesBack) {
  Snapshot first{"snap-1", "build-1", "1.0.0", kReference};
  Snapshot second{"snap-2", "build-2", "1.1.0", kReference + days(1)};
  QelWebApp app{"app",
                {Channel{"production", second}, Channel{"beta", std::nullopt}},
                {second, first},
                kReference + seconds(1234) + microseconds(567'891)};
  const std::string text =
      R"({"id":"app","channels":[{"id":"beta"},{"id":"production","current_snapshot":)"
      R"({"id":"snap-2","build_id":"build-2","binary_version":"1.1.0","last_used":86400.0}}],)"
      R"("snapshots":[{"id":"snap-1","build_id":"build-1","binary_version":"1.0.0",)"
      R"("last_used":0.0},{"id":"snap-2","build_id":"build-2","binary_version":"1.1.0",)"
      R"("last_used":86400.0}],)"
      R"("last_sync":1234.567891})";
  EXPECT_EQ(encodeApp(app).value(), text);
  // Sets compare by id alone: encoding the decoded record again shows every field came back.
  auto decoded = decodeApp(text).value();
  EXPECT_EQ(decoded, app);
  EXPECT_EQ(encodeApp(decoded).value(), text);
}

TEST(RecordsJson, DecodingIsStrictAndSaysWhere) {
  const std::string snapshot = R"({"id":"s","build_id":"b","binary_version":"1","last_used":0})";
  struct Case {
    std::string json;
    std::string codingPath;
  };
  const std::vector<Case> cases = {
      {"not json", ""},
      {"[]", ""},
      {R"({"id":"a","channels":[]})", "snapshots"},
      {R"({"id":1,"channels":[],"snapshots":[]})", "id"},
      {R"({"id":"a","channels":{},"snapshots":[]})", "channels"},
      {R"({"id":"a","channels":[],"snapshots":[)" + snapshot +
           R"(,{"id":"t","build_id":"b",)"
           R"("binary_version":"1","last_used":"yesterday"}]})",
       "snapshots[1].last_used"},
      {R"({"id":"a","snapshots":[],"channels":[{"id":"c","current_snapshot":)"
       R"({"id":"s","binary_version":"1","last_used":0}}]})",
       "channels[0].current_snapshot.build_id"},
      {R"({"id":"a","channels":[],"snapshots":[],"last_sync":true})", "last_sync"},
      {R"({"id":"a","channels":[],"snapshots":[],"last_sync":1e300})", "last_sync"},
      {R"({"id":"a","channels":["c"],"snapshots":[]})", "channels[0]"},
  };
  for (const auto& c : cases) {
    auto decoded = decodeApp(c.json);
    ASSERT_FALSE(decoded) << c.json;
    EXPECT_EQ(decoded.error().codingPath, c.codingPath) << c.json;
    EXPECT_FALSE(decoded.error().description.empty()) << c.json;
  }
  EXPECT_TRUE(decodeApp(R"({"id":"a","channels":[],"snapshots":[],"extra":1})"));
}

}  // namespace
}  // namespace qelvo
