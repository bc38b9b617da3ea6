#include "client/check_types.h"
#include "platform/host.h"
#include "qelvo/configuration.h"
#include "store/app_store.h"

namespace qelvo {

Device Device::describe(KeyValueSuite& store) {
  // The identifier is created and persisted on first use, before anything else is read.
  std::string deviceId = deviceIdentifier(store);
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
