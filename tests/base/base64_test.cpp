#include "base/base64.h"

#include <gtest/gtest.h>

namespace qelvo {
namespace {

TEST(Base64, EncodesWithPaddingAndDecodesBack) {
  const std::pair<std::string, std::string> table[] = {
      {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\0\xff\xfe", 3), "AP/+"},
      {"[]", "W10="},
  };
  for (const auto& [bytes, text] : table) {
    EXPECT_EQ(base64Encode(bytes), text);
    EXPECT_EQ(base64Decode(text), bytes) << text;
  }
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(base64Decode(base64Encode(all)), all);
}

TEST(Base64, RefusesAnythingButCanonicalPaddedText) {
  for (const char* text : {"Zg", "Zg=", "Zm9v\n", "Zm\n9v", " Zm9v", "Zm9v Zm9v", "Zm-v", "Zm_v",
                           "Z===", "====", "Zg==Zg==", "=Zg=", "Zh==", "Zm9=", "Zm9vYg==="}) {
    EXPECT_EQ(base64Decode(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace qelvo
