#include "qelvo/manifest.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "base/base64.h"

namespace qelvo {
namespace {

std::string manifestJson(const std::string& itemsJson) {
  return "{\"payload\":\"" + base64Encode(itemsJson) + "\"}";
}

TEST(Manifest, KeepsThePayloadTextAndWritesItBackUnchanged) {
  auto empty = Manifest::decode(R"({"payload":"W10="})");
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->payload.empty());
  EXPECT_EQ(empty->encode(), R"({"payload":"W10="})");

  // Items in an order of their own, spacing and a duplicate: the text survives as is.
  std::string items = R"([ {"integrity":"sha256-b","href":"b/c.js","size":2},)"
                      R"({"href":"a.html","size":10,"integrity":"sha256-a"},)"
                      R"({"href":"b/c.js","size":2,"integrity":"sha256-b"} ])";
  auto manifest = Manifest::decode(manifestJson(items));
  ASSERT_TRUE(manifest.has_value()) << manifest.error().description;
  EXPECT_EQ(manifest->payload.size(), 2u);
  EXPECT_TRUE(manifest->payload.contains({"a.html", 10, "sha256-a"}));
  EXPECT_TRUE(manifest->payload.contains({"b/c.js", 2, "sha256-b"}));
  EXPECT_EQ(manifest->_payload, base64Encode(items));

  // Later changes to the items do not reach the encoded form.
  manifest->payload.clear();
  EXPECT_EQ(manifest->encode(), manifestJson(items));
}

TEST(Manifest, PayloadMustBeStrictBase64) {
  std::string text = base64Encode(R"([{"href":"index.html","size":1,"integrity":"i"}])");
  for (std::string broken : {text.substr(0, 8) + "\n" + text.substr(8), text + " ",
                             text.substr(0, text.size() - 1), std::string("not base64!")}) {
    auto manifest = Manifest::decode("{\"payload\":" + nlohmann::json(broken).dump() + "}");
    ASSERT_FALSE(manifest.has_value());
    EXPECT_EQ(manifest.error(),
              DecodingError("payload", "'payload' was not a base64 encoded string"));
  }
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

TEST(Manifest, FromItemsEncodesAPayloadThatDecodesToTheSameItems) {
  auto manifest = Manifest::fromItems({{"index.html", 5, "sha256-x"}, {"a/b.js", 0, "sha256-y"}});
  auto decoded = Manifest::decode(manifest.encode());
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->payload, manifest.payload);
  EXPECT_THROW(Manifest::fromItems({{std::string("\xff"), 1, "i"}}), EncodingError);
}

}  // namespace
}  // namespace qelvo
