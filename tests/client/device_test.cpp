#include <gtest/gtest.h>

#include "client/check_types.h"
#include "qelvo/configuration.h"
#include "support/test_host.h"

namespace qelvo {
namespace {

TEST(Device, DescribesThisHostWithTheGivenIdentifier) {
  test::TestHost host("dev.qelvo.tests", "3.1.4");

  Device device = Device::describe("D-1");
  EXPECT_EQ(device.platform, "ios");
  EXPECT_EQ(device.binaryVersion, "3.1.4");
  EXPECT_EQ(device.deviceId, "D-1");
  EXPECT_EQ(device.snapshot, std::nullopt);
  EXPECT_EQ(device.build, std::nullopt);

  host.setVersion("3.2.0");
  EXPECT_EQ(Device::describe("D-1").binaryVersion, "3.2.0");
}

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
