#include "support/test_host.h"

#include "qelvo/configuration.h"

namespace qelvo::test {

TestHost::TestHost(std::string bundleId, std::string version) : bundleId_(std::move(bundleId)) {
  configureHost({.bundleIdentifier = bundleId_,
                 .shortVersionString = std::move(version),
                 .containerRoot = dir_.path()});
}

void TestHost::setVersion(std::string version) {
  configureHost({.bundleIdentifier = bundleId_,
                 .shortVersionString = std::move(version),
                 .containerRoot = dir_.path()});
}

}  // namespace qelvo::test
