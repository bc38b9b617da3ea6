// A host identity with its own temporary container, configured for the test's
// duration.
#pragma once

#include <string>

#include "support/temp_dir.h"

namespace qelvo::test {

class TestHost {
 public:
  explicit TestHost(std::string bundleId = "dev.qelvo.tests", std::string version = "1.0.0");

  const std::filesystem::path& container() const { return dir_.path(); }
  std::filesystem::path library() const { return dir_.path() / "Library"; }
  std::filesystem::path tmp() const { return dir_.path() / "tmp"; }
  std::filesystem::path cacheRoot() const { return library() / "qelvo_apps"; }

 private:
  TempDir dir_;
};

}  // namespace qelvo::test
