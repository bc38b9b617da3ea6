#include "client/check_types.h"
#include "platform/host.h"
#include "qelvo/configuration.h"

namespace qelvo {

Device Device::describe(std::string deviceId) {
  auto binaryVersion = platform::shortVersionString();
  if (!binaryVersion) {
    throw ConfigurationError(
        "No short version string configured for the host: configureHost needs "
        "shortVersionString to describe the device");
  }
  return Device{.platform = "ios",
                .platformVersion = platform::operatingSystemVersion(),
                .binaryVersion = std::move(*binaryVersion),
                .deviceId = std::move(deviceId),
                .snapshot = std::nullopt,
                .build = std::nullopt};
}

}  // namespace qelvo
