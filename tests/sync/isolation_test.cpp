// Syncs that must not share what they write: two apps offered one snapshot id, files
// that cannot be placed, and the modes of snapshot files however they arrived.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>

#include "support/sync_fixture.h"

namespace qelvo::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Isolation : public SyncTest {
 protected:
  void offerFiles(const std::string& appId, const std::string& id, const Files& files,
                  std::chrono::milliseconds delay = {}) {
    server_.offer(appId, id, 1, server_.putManifest(appId, id, files), delay);
  }
};

TEST_F(Isolation, TwoAppsOfferedOneSnapshotIdSyncTogether) {
  for (const char* appId : {"a", "b"}) {
    manager_->add(LiveUpdate(appId, "production", false, Strategy::differential));
  }
  Files a;
  Files b;
  for (int i = 0; i < 50; ++i) {
    a["f" + std::to_string(i) + ".js"] = "a" + std::to_string(i);
    b["f" + std::to_string(i) + ".js"] = "b" + std::to_string(i);
  }
  // Both checks answer together, so that both syncs assemble "snap" at the same time.
  offerFiles("a", "snap", a, 200ms);
  offerFiles("b", "snap", b, 200ms);
  auto first = manager_->sync("a");
  auto second = manager_->sync("b");
  EXPECT_NO_THROW(first.get());
  EXPECT_NO_THROW(second.get());
  EXPECT_EQ(filesIn(snapshotDir("snap", "a")), withManifestFile(a));
  EXPECT_EQ(filesIn(snapshotDir("snap", "b")), withManifestFile(b));
  EXPECT_TRUE(leftInTmp().empty());
}

TEST_F(Isolation, AFileThatCannotBePlacedFailsInItsMoveCallback) {
  auto logging = makeTestManager(server_.client(), "logging", true);
  logging->add(LiveUpdate("app", "production", false, Strategy::differential));
  // "a" is a file and the directory of "a/x.js": one of the two cannot be placed.
  offerFiles("app", "snap", {{"a", "file"}, {"a/x.js", "x"}});
  testing::internal::CaptureStdout();
  auto error = syncError(*logging, "app");
  const auto printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("Writing file href a"), std::string::npos) << printed;
  EXPECT_EQ(error.failStep, FailStep::download);
  const auto* client = networkReason(error);
  ASSERT_NE(client, nullptr) << error.errorDescription();
  const auto* network = std::get_if<NetworkClientError::NetworkError>(&client->value());
  ASSERT_TRUE(network && network->error);
  const auto* inner = network->error->get<SyncError>();
  ASSERT_NE(inner, nullptr) << network->error->localizedDescription();
  EXPECT_EQ(inner->failStep, FailStep::download);
  EXPECT_TRUE(std::holds_alternative<SyncError::Reason::FileManagerError>(inner->reason.value));
  EXPECT_TRUE(leftInTmp().empty());
}

// Under a given umask, every file of every snapshot has one mode and every directory
// another, whether the file was extracted, downloaded on its own or copied.
TEST_F(Isolation, SnapshotFilesGetOneModeHoweverTheyArrived) {
  manager_->add(LiveUpdate("zip", "production", false, Strategy::zip));
  manager_->add(LiveUpdate("files", "production", false, Strategy::differential));
  const Files v1 = {{"index.html", "1"}, {"js/app.js", "same"}, {"a/b/c.css", "1"}};
  Files v2 = v1;
  v2["index.html"] = "2";
  for (mode_t mask : {mode_t{022}, mode_t{027}}) {
    const mode_t previous = ::umask(mask);
    const std::string round = std::to_string(mask);
    server_.offer("zip", "z" + round, 1, server_.putZip("zip", "z" + round, v1));
    offerFiles("files", "d1-" + round, v1);
    manager_->sync("zip").get();
    manager_->sync("files").get();
    offerFiles("files", "d2-" + round, v2);  // downloads index.html, copies the rest
    manager_->sync("files").get();
    ::umask(previous);
    for (const auto& [appId, id] : {std::pair{"zip", "z"}, {"files", "d1-"}, {"files", "d2-"}}) {
      const auto root = snapshotDir(id + round, appId);
      for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat status {};
        ASSERT_EQ(::lstat(entry.path().c_str(), &status), 0);
        const mode_t expected = (entry.is_directory() ? 0755 : 0644) & ~mask;
        EXPECT_EQ(status.st_mode & 07777, expected) << entry.path() << " umask " << round;
      }
    }
  }
}

}  // namespace
}  // namespace qelvo::test
