// Snapshots that share their unchanged files (Limits::shareUnchangedFiles): hard links to
// the previous snapshot's read-only files, and a secure manager's fingerprints that keep
// holding while later snapshots link those files and earlier ones are trimmed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "qelvo/secure_live_update_manager.h"
#include "support/sync_fixture.h"
#include "support/test_keys.h"

namespace qelvo::test {
namespace {

struct stat statusOf(const std::filesystem::path& file) {
  struct stat status {};
  EXPECT_EQ(::lstat(file.c_str(), &status), 0) << file;
  return status;
}

class SharedSnapshots : public SyncTest {
 protected:
  void SetUp() override {
    configureDeployService({.baseUrl = server_.http().origin() + "/apps"});
    secure_ = std::make_shared<SecureLiveUpdateManager>("secure", testKey().publicKeyPem(), 3);
    secure_->setLoggingEnabled(false);
    auto limits = secure_->limits();
    limits.shareUnchangedFiles = true;
    secure_->setLimits(limits);
    secure_->add(LiveUpdate("app", "production", false, Strategy::differential));
  }
  SyncResult::Source syncTo(const std::string& id, const Files& files) {
    server_.offer("app", id, 1, server_.putManifest("app", id, files, &testKey()));
    return secure_->sync("app").get().source;
  }

  std::shared_ptr<SecureLiveUpdateManager> secure_;
};

TEST_F(SharedSnapshots, UnchangedFilesAreSharedReadOnlyAndEverySnapshotKeepsVerifying) {
  const Files v1 = {{"index.html", "<h1>v1</h1>"},
                    {"js/app.js", std::string(30000, 'a')},
                    {"img/logo.bin", std::string(5000, 'L')}};
  Files v2 = v1;
  v2["index.html"] = "<h1>v2</h1>";
  const SyncResult::Source downloaded = SyncResult::Download{};
  ASSERT_EQ(syncTo("snap-1", v1), downloaded);
  ASSERT_EQ(syncTo("snap-2", v2), downloaded);
  EXPECT_EQ(transferred("snap-2"), std::vector<std::string>{"index.html"});
  EXPECT_EQ(filesIn(snapshotDir("snap-2")), withManifestFile(v2));

  // One inode for both versions of an unchanged file, and nothing writable in either.
  for (const auto* href : {"js/app.js", "img/logo.bin"}) {
    EXPECT_EQ(statusOf(snapshotDir("snap-1") / href).st_ino,
              statusOf(snapshotDir("snap-2") / href).st_ino)
        << href;
  }
  for (const auto& id : {"snap-1", "snap-2"}) {
    for (const auto& [href, content] : withManifestFile(id == std::string("snap-1") ? v1 : v2)) {
      EXPECT_EQ(statusOf(snapshotDir(id) / href).st_mode & 07777, 0444u) << id << " " << href;
    }
  }

  // The link made for snap-2 changed nothing in snap-1: it is served from the cache as
  // it was verified, and so is snap-2 afterwards.
  const SyncResult::Source cached = SyncResult::Cache{true};
  EXPECT_EQ(syncTo("snap-1", v1), cached);
  EXPECT_EQ(syncTo("snap-2", v2), cached);

  // Trimming snap-1 removes its names only: snap-2 keeps its bytes and its fingerprint.
  secure_->setMaxVersions(0);
  secure_->cleanVersions("app");
  ASSERT_FALSE(std::filesystem::exists(snapshotDir("snap-1")));
  EXPECT_EQ(filesIn(snapshotDir("snap-2")), withManifestFile(v2));
  EXPECT_EQ(secure_->sync("app").get().source, SyncResult::Source(SyncResult::Cache{false}));
  EXPECT_EQ(server_.count("GET", "/bundles/app/snap-2/.*"), 2u)
      << "the manifest and index.html, once";
  EXPECT_TRUE(leftInTmp().empty());
}

}  // namespace
}  // namespace qelvo::test
