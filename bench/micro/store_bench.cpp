// The metadata store: one application's record saved and read back, as every sync does.
#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "qelvo/configuration.h"
#include "store/app_store.h"

namespace qelvo::bench {
namespace {

QelWebApp sampleApp() {
  QelWebApp app{.id = "bench-app", .channels = {}, .snapshots = {}, .lastSync = Date::clock::now()};
  for (int i = 0; i < 3; ++i) {
    Snapshot snapshot{"snapshot-" + std::to_string(i), std::to_string(i), "1.0.0",
                      Date::clock::now()};
    app.snapshots.insert(snapshot);
    app.channels.insert(Channel{"channel-" + std::to_string(i), snapshot});
  }
  return app;
}

std::shared_ptr<KeyValueSuite> benchStore() {
  static auto store = [] {
    const auto container = freshDirectory("container");
    configureHost({.bundleIdentifier = "dev.qelvo.bench",
                   .shortVersionString = "1.0.0",
                   .containerRoot = container});
    return openNamedStore("bench");
  }();
  return store;
}

void BM_SaveApp(benchmark::State& state) {
  auto store = benchStore();
  auto app = sampleApp();
  for (auto _ : state) saveApp(*store, app);
}
BENCHMARK(BM_SaveApp)->Unit(benchmark::kMicrosecond);

void BM_GetApp(benchmark::State& state) {
  auto store = benchStore();
  saveApp(*store, sampleApp());
  for (auto _ : state) {
    auto app = getApp(*store, "bench-app");
    if (!app) state.SkipWithError("the record is missing");
    benchmark::DoNotOptimize(app);
  }
}
BENCHMARK(BM_GetApp)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qelvo::bench
