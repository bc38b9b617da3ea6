#include <gtest/gtest.h>

#include "client/check_types.h"
#include "qelvo/configuration.h"
#include "support/test_host.h"

namespace qelvo {
namespace {

TEST(Device, AHostWithoutAShortVersionStringCannotBeDescribed) {
  test::TestHost host;
  configureHost({.bundleIdentifier = "dev.qelvo.tests",
                 .shortVersionString = std::nullopt,
                 .containerRoot = host.container()});
  try {
    Device::describe("D-1");
    ADD_FAILURE() << "described a device without a binary version";
  } catch (const ConfigurationError& error) {
    EXPECT_NE(std::string(error.what()).find("shortVersionString"), std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace qelvo
