#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "support/sync_fixture.h"

namespace qelvo::test {
namespace {

using namespace std::chrono_literals;
using Outcome = std::expected<SyncResult, SyncError>;

const Date kEarly = Date{} + 1000h;

// Collects callback outcomes and the threads they arrived on.
struct Callbacks {
  std::mutex mutex;
  std::vector<Outcome> outcomes;
  std::vector<std::thread::id> threads;
  std::promise<void> done;
  int syncCompletes = 0;

  LiveUpdateManager::AppComplete appComplete() {
    return [this](Outcome outcome) {
      std::lock_guard lock(mutex);
      outcomes.push_back(std::move(outcome));
      threads.push_back(std::this_thread::get_id());
    };
  }
  LiveUpdateManager::SyncComplete syncComplete() {
    return [this] {
      {
        std::lock_guard lock(mutex);
        ++syncCompletes;
      }
      done.set_value();
    };
  }
};

class SyncOrchestration : public SyncTest {
 protected:
  // `appId` holds its current snapshot, which the check offers again (after `delay`).
  void addCached(const std::string& appId, std::chrono::milliseconds delay = {}) {
    manager_->add(LiveUpdate(appId, "production", false, Strategy::zip));
    putSnapshot(*manager_, host_.cacheRoot(), appId, "snap", "1.0.0", kEarly, "production");
    server_.offer(appId, "snap", 1, "http://127.0.0.1:1/x.zip", delay);
  }
};

TEST_F(SyncOrchestration, ConcurrentRequestsJoinOneSync) {
  addCached("app", 300ms);
  auto first = manager_->sync("app");
  auto second = manager_->sync("app");
  std::promise<Outcome> third;
  manager_->sync("app", [&](Outcome outcome) { third.set_value(std::move(outcome)); });
  auto results = manager_->sync(std::vector<std::string>{"app"});

  auto a = first.get();
  EXPECT_EQ(second.get(), a);
  EXPECT_EQ(third.get_future().get(), a);
  EXPECT_EQ(results.get().results.front(), a);
  EXPECT_EQ(server_.checkCount("app"), 1u);
  EXPECT_FALSE(manager_->operationMap().get("app"));

  manager_->sync("app").get();
  EXPECT_EQ(server_.checkCount("app"), 2u) << "a finished sync is not reused";
}

TEST_F(SyncOrchestration, CallbackListsCallEveryAppThenCompleteOnWorkerThreads) {
  addCached("a");
  addCached("b");
  Callbacks callbacks;
  manager_->sync(std::vector<LiveUpdate>{LiveUpdate("a", "production", false, Strategy::zip),
                                         LiveUpdate("b", "production", false, Strategy::zip),
                                         LiveUpdate("c", "production", false, Strategy::zip)},
                 /*isParallel=*/false, callbacks.syncComplete(), callbacks.appComplete());
  callbacks.done.get_future().get();
  std::lock_guard lock(callbacks.mutex);
  EXPECT_EQ(callbacks.outcomes.size(), 3u);
  EXPECT_EQ(callbacks.syncCompletes, 1);
  int failures = 0;
  for (const auto& outcome : callbacks.outcomes) failures += outcome ? 0 : 1;
  EXPECT_EQ(failures, 1);
  for (auto id : callbacks.threads) EXPECT_NE(id, std::this_thread::get_id());
}

TEST_F(SyncOrchestration, AllRegisteredAppsAndEmptyLists) {
  auto empty = manager_->sync().get();
  EXPECT_TRUE(empty.results.empty());
  EXPECT_TRUE(empty.errors.empty());
  EXPECT_TRUE(manager_->sync(std::vector<std::string>{}).get().results.empty());

  Callbacks callbacks;
  manager_->sync(std::vector<std::string>{}, callbacks.syncComplete(), callbacks.appComplete());
  callbacks.done.get_future().get();
  EXPECT_TRUE(callbacks.outcomes.empty());

  addCached("a");
  addCached("b");
  server_.offerNothing("b");
  auto all = manager_->sync().get();
  EXPECT_EQ(all.results.size(), 2u);
  Callbacks allCallbacks;
  manager_->sync(allCallbacks.syncComplete(), allCallbacks.appComplete());
  allCallbacks.done.get_future().get();
  EXPECT_EQ(allCallbacks.outcomes.size(), 2u);
}

TEST_F(SyncOrchestration, CancellationStopsTheSyncInEveryForm) {
  addCached("app", 10s);
  manager_->cancelSync("app");  // nothing running: nothing happens

  auto future = manager_->sync("app");
  while (!manager_->operationMap().get("app")) std::this_thread::sleep_for(1ms);
  manager_->cancelSync("app");
  EXPECT_THROW(future.get(), CancellationError);
  EXPECT_FALSE(manager_->operationMap().get("app"));

  std::promise<Outcome> callback;
  manager_->sync("app", [&](Outcome outcome) { callback.set_value(std::move(outcome)); });
  manager_->cancelSync("app");
  auto outcome = callback.get_future().get();
  ASSERT_FALSE(outcome);
  EXPECT_EQ(metadataText(outcome.error()), "Unable to determine the error");

  auto list = manager_->sync(std::vector<std::string>{"app"});
  manager_->cancelSync("app");
  auto listed = list.get();
  ASSERT_EQ(listed.errors.size(), 1u);
  EXPECT_EQ(metadataText(listed.errors[0]), "Unable to determine the error - The operation was cancelled.");
}

TEST_F(SyncOrchestration, ARunningSyncKeepsAReleasedManagerAlive) {
  addCached("app", 200ms);
  std::promise<Outcome> callback;
  manager_->sync("app", [&](Outcome outcome) { callback.set_value(std::move(outcome)); });
  std::weak_ptr<TestManager> weak = manager_;
  manager_.reset();
  EXPECT_TRUE(callback.get_future().get().has_value());
  for (int i = 0; i < 500 && !weak.expired(); ++i) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(weak.expired()) << "released once the sync has ended";
}

}  // namespace
}  // namespace qelvo::test
