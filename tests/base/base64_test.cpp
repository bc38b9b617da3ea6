#include "base/base64.h"

#include <gtest/gtest.h>

namespace qelvo {
namespace {

TEST(Base64, RefusesAnythingButCanonicalPaddedText) {
  for (const char* text : {"Zg", "Zg=", "Zm9v\n", "Zm\n9v", " Zm9v", "Zm9v Zm9v", "Zm-v", "Zm_v",
                           "Z===", "====", "Zg==Zg==", "=Zg=", "Zh==", "Zm9=", "Zm9vYg==="}) {
    EXPECT_EQ(base64Decode(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace qelvo
