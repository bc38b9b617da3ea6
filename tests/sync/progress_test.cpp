#include <gtest/gtest.h>

#include "support/sync_fixture.h"

namespace qelvo::test {
namespace {

using Phase = LiveUpdateManager::SyncProgress::Phase;
using Progress = LiveUpdateManager::SyncProgress;

class SyncProgressTest : public SyncTest {
 protected:
  void SetUp() override {
    manager_->setProgressHandler([this](const Progress& progress) {
      std::lock_guard lock(mutex_);
      reports_.push_back(progress);
    });
  }
  std::vector<Phase> phases() {
    std::lock_guard lock(mutex_);
    std::vector<Phase> phases;
    for (const auto& report : reports_) {
      if (phases.empty() || phases.back() != report.phase) phases.push_back(report.phase);
    }
    return phases;
  }
  // The last report of a phase.
  Progress last(Phase phase) {
    std::lock_guard lock(mutex_);
    for (auto it = reports_.rbegin(); it != reports_.rend(); ++it) {
      if (it->phase == phase) return *it;
    }
    ADD_FAILURE() << "no report of that phase";
    return {};
  }

  std::mutex mutex_;
  std::vector<Progress> reports_;
};

TEST_F(SyncProgressTest, ZipSyncReportsEachPhaseAndTheArchiveBytes) {
  manager_->add(LiveUpdate("app", "production", false, Strategy::zip));
  std::string big(300000, 'x');
  server_.offer("app", "s1", 1, server_.putZip("app", "s1", {{"index.html", "hi"}, {"big.bin", big}}));
  manager_->sync("app").get();
  EXPECT_EQ(phases(), (std::vector<Phase>{Phase::check, Phase::download, Phase::unpack, Phase::done}));
  auto download = last(Phase::download);
  ASSERT_TRUE(download.bytesExpected);
  EXPECT_EQ(download.bytesDone, *download.bytesExpected);
  EXPECT_EQ(download.appId, "app");
}

TEST_F(SyncProgressTest, DifferentialSyncCountsFilesDownloadedAndCopied) {
  manager_->add(LiveUpdate("app", "production", false, Strategy::differential));
  Files v1{{"index.html", "one"}, {"a.js", "a"}, {"b.js", "b"}};
  server_.offer("app", "s1", 1, server_.putManifest("app", "s1", v1));
  manager_->sync("app").get();
  EXPECT_EQ(last(Phase::download).filesDone, 3u);

  auto v2 = v1;
  v2["index.html"] = "two";
  server_.offer("app", "s2", 2, server_.putManifest("app", "s2", v2));
  manager_->sync("app").get();
  auto download = last(Phase::download);
  EXPECT_EQ(download.filesDone, 1u);
  EXPECT_EQ(download.filesExpected, 1u);
  EXPECT_EQ(download.bytesDone, 3u);
  auto copy = last(Phase::copy);
  EXPECT_EQ(copy.filesDone, 2u);
  EXPECT_EQ(copy.filesExpected, 2u);
  EXPECT_EQ(phases().back(), Phase::done);
}

}  // namespace
}  // namespace qelvo::test
