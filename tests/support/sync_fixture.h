// A container, a test deploy server and a manager that talks to it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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
  SyncError syncError(const std::string& appId) { return syncError(*manager_, appId); }
  static SyncError syncError(LiveUpdateManager& manager, const std::string& appId);
  static SyncError metadataErrorForTests();

  static std::string metadataText(const SyncError& error) {
    auto* metadata = std::get_if<SyncError::Reason::MetadataError>(&error.reason.value);
    return metadata ? metadata->reason : "(not a metadata error)";
  }
  // The client error of a networkError reason, or null.
  static const NetworkClientError* networkReason(const SyncError& error) {
    auto* network = std::get_if<SyncError::Reason::NetworkError>(&error.reason.value);
    return network ? &network->reason : nullptr;
  }

  // Whether the error is a download stopped by cancelSync: SyncError(download,
  // networkError) whose client error carries the CancellationError.
  static bool isCancelledDownload(const SyncError& error);

  // The directory of a snapshot in the cache (whether or not it exists).
  std::filesystem::path snapshotDir(const std::string& snapshotId,
                                    const std::string& appId = "app") const {
    return host_.cacheRoot() / appId / snapshotId;
  }
  // The hrefs of the files of snapshot `snapshotId` (its manifest left out) that the
  // server was asked for, sorted, repeats included.
  std::vector<std::string> transferred(const std::string& snapshotId,
                                       const std::string& appId = "app") const;
  // What syncs left in the container's tmp: the entries of the work area, and any other
  // entry of tmp under one of the library's names (the host's own files are left out).
  std::vector<std::string> leftInTmp() const;
  // Whether a download has written its first bytes to its temporary file.
  bool downloadUnderway() const;

  // Offers `id` of "app" as the archive `bytes` / as a manifest of this text with these
  // files.
  void offerArchive(const std::string& id, const std::string& bytes);
  void offerManifestText(const std::string& id, const std::string& manifestText,
                         const Files& files = {});
  // `id` is the current snapshot of "app" for `manager` (`manager_` unless given),
  // holding exactly `files`, and syncs left nothing in tmp.
  void expectCurrent(const std::string& id, const Files& files) const {
    expectCurrent(*manager_, id, files);
  }
  void expectCurrent(const LiveUpdateManager& manager, const std::string& id,
                     const Files& files) const;

  TestHost host_;
  TestDeployServer server_;
  std::shared_ptr<TestManager> manager_ = makeTestManager(server_.client());
};

// A bundle of nested files, one of them binary, whose contents name `version` except
// those of "js/app.js" and "a/b/d.css".
Files bundle(const std::string& version);

// Waits until `condition` holds, looking every few milliseconds; false after `limit`.
bool eventually(const std::function<bool()>& condition,
                std::chrono::seconds limit = std::chrono::seconds(30));

}  // namespace qelvo::test
