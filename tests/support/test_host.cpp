#include "support/test_host.h"

#include "qelvo/configuration.h"

namespace qelvo::test {

TestHost::TestHost(std::string bundleId, std::string version) {
  configureHost({.bundleIdentifier = std::move(bundleId),
                 .shortVersionString = std::move(version),
                 .containerRoot = dir_.path()});
}

}  // namespace qelvo::test
