// The threads syncs run on: callbacks that throw or are empty, callers whose callbacks
// must not wait for each other, a thread that cannot be started, limits that a sync
// keeps from its start, and threads that end with the last manager.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <system_error>

#include "support/sync_fixture.h"
#include "sync/sync_executor.h"

namespace qelvo::test {
namespace {

using namespace std::chrono_literals;
using Outcome = std::expected<SyncResult, SyncError>;

// Standard output sent to a file while it lives, readable at any moment.
class StdoutToFile {
 public:
  StdoutToFile() : saved_(::dup(STDOUT_FILENO)) {
    std::fflush(stdout);
    int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~StdoutToFile() {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
  std::string text() const { return readFile(file_); }

 private:
  TempDir dir_;
  std::filesystem::path file_ = dir_ / "stdout";
  int saved_;
};

class SyncThreads : public SyncTest {
 protected:
  void SetUp() override {
    manager_->setLoggingEnabled(true);
    manager_->add(LiveUpdate("app", "production", false, Strategy::zip));
    server_.offerNothing("app");
  }
};

TEST_F(SyncThreads, ThrowingAndEmptyCallbacksAreLoggedAndTheProcessGoesOn) {
  StdoutToFile out;
  manager_->sync("app", [](Outcome) { throw std::runtime_error("host bug"); });
  manager_->sync("app", LiveUpdateManager::AppComplete{});
  std::promise<void> listDone;
  manager_->sync(std::vector<std::string>{"app"},
                 [&] { listDone.set_value(); },
                 [](Outcome) { throw std::runtime_error("list bug"); });
  ASSERT_EQ(listDone.get_future().wait_for(30s), std::future_status::ready)
      << "syncComplete still comes after a throwing appComplete";
  EXPECT_TRUE(eventually([&] {
    auto text = out.text();
    return text.find("LiveUpdateManager - The appComplete callback threw: host bug") !=
               std::string::npos &&
           text.find("LiveUpdateManager - The appComplete callback is empty; its call was skipped") !=
               std::string::npos &&
           text.find("LiveUpdateManager - The appComplete callback threw: list bug") !=
               std::string::npos;
  })) << out.text();
  EXPECT_NO_THROW(manager_->sync("app").get());
}

TEST_F(SyncThreads, ASyncWhoseThreadCannotStartFailsAndLeavesNothingRegistered) {
  manager_->setExecutor(std::make_shared<SyncExecutor>(SyncExecutor::Settings{
      .startThread = [](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }}));
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto error = syncError("app");
    EXPECT_EQ(error.failStep, FailStep::check);
    EXPECT_EQ(metadataText(error), "No thread could be started to sync app");
    EXPECT_TRUE(manager_->operationMap().contents().empty());
  }
  std::promise<Outcome> delivered;
  manager_->sync("app", [&](Outcome outcome) { delivered.set_value(std::move(outcome)); });
  auto outcome = delivered.get_future().get();  // on this thread: no other could be had
  ASSERT_FALSE(outcome);
  EXPECT_EQ(metadataText(outcome.error()), "No thread could be started to sync app");
}

}  // namespace
}  // namespace qelvo::test
