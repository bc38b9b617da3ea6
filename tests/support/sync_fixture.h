// A container, a test deploy server and a manager that talks to it.
#pragma once

#include <gtest/gtest.h>

#include "support/test_deploy_server.h"
#include "support/test_host.h"
#include "support/test_manager.h"

namespace qelvo::test {

using Strategy = LiveUpdate::Strategy;
using SyncResult = LiveUpdateManager::SyncResult;
using FailStep = SyncError::FailStep;

class SyncTest : public ::testing::Test {
 protected:
  // The error a future-returning sync throws, as a SyncError (fails the test otherwise).
  SyncError syncError(const std::string& appId) {
    try {
      manager_->sync(appId).get();
    } catch (const SyncError& error) {
      return error;
    } catch (const std::exception& error) {
      ADD_FAILURE() << "another error: " << error.what();
    }
    ADD_FAILURE() << "the sync succeeded";
    return metadataErrorForTests();
  }
  static SyncError metadataErrorForTests();

  std::string metadataText(const SyncError& error) {
    auto* metadata = std::get_if<SyncError::Reason::MetadataError>(&error.reason.value);
    return metadata ? metadata->reason : "(not a metadata error)";
  }

  TestHost host_;
  TestDeployServer server_;
  std::shared_ptr<TestManager> manager_ = makeTestManager(server_.client());
};

}  // namespace qelvo::test
