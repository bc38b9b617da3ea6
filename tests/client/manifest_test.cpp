#include "qelvo/manifest.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/base64.h"

namespace qelvo {
namespace {

std::string manifestJson(const std::string& itemsJson) {
  return "{\"payload\":\"" + base64Encode(itemsJson) + "\"}";
}

TEST(Manifest, ItemsAreDecodedStrictly) {
  const char* invalid[] = {
      R"([{"href":"a","size":-1,"integrity":"i"}])",
      R"([{"href":"a","size":1.5,"integrity":"i"}])",
      R"([{"href":"a","size":"1","integrity":"i"}])",
      R"([{"href":"a","size":18446744073709551616,"integrity":"i"}])",
      R"([{"href":"a","integrity":"i"}])",
      R"([{"href":null,"size":1,"integrity":"i"}])",
      R"({"href":"a","size":1,"integrity":"i"})",
      R"([1])",
      "not json",
  };
  for (const char* items : invalid) {
    EXPECT_FALSE(Manifest::decode(manifestJson(items)).has_value()) << items;
  }
  auto sizeError = Manifest::decode(manifestJson(R"([{"href":"a","size":1,"integrity":"i"},)"
                                                 R"({"href":"b","size":-1,"integrity":"i"}])"));
  ASSERT_FALSE(sizeError.has_value());
  EXPECT_EQ(sizeError.error().codingPath, "[1].size");

  auto largest = Manifest::decode(
      manifestJson(R"([{"href":"a","size":18446744073709551615,"integrity":"i"}])"));
  ASSERT_TRUE(largest.has_value());
  EXPECT_EQ(largest->payload.begin()->size, 18446744073709551615u);

  EXPECT_FALSE(Manifest::decode(R"({})").has_value());
  EXPECT_FALSE(Manifest::decode(R"({"payload":5})").has_value());
}

}  // namespace
}  // namespace qelvo
