// qelvo_bench_host: a host that syncs one app several times on one manager, for
// bench/run's warm-manager figures (the command-line host syncs once per process).
//
//   qelvo_bench_host DATA_DIR SERVER_URL APP_ID CHANNEL zip|differential SYNCS
//
// Uses the shared manager, as the command-line host does without --name, so it sees
// what earlier `qelvo-live-update sync` runs stored in DATA_DIR. Prints the wall time of
// each sync in seconds, one line each; exits 1 when one fails.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "qelvo/configuration.h"
#include "qelvo/live_update_manager.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr,
                 "usage: qelvo_bench_host DATA_DIR SERVER_URL APP_ID CHANNEL STRATEGY SYNCS\n");
    return 2;
  }
  const std::string appId = argv[3];
  qelvo::configureHost({.bundleIdentifier = "dev.qelvo.live-update",
                        .shortVersionString = "1.0.0",
                        .containerRoot = std::filesystem::absolute(argv[1])});
  qelvo::configureDeployService({.baseUrl = argv[2]});
  auto manager = qelvo::LiveUpdateManager::shared();
  manager->setLoggingEnabled(false);
  manager->add(qelvo::LiveUpdate(appId, argv[4], false,
                                 std::string(argv[5]) == "zip"
                                     ? qelvo::LiveUpdate::Strategy::zip
                                     : qelvo::LiveUpdate::Strategy::differential));
  const int syncs = std::stoi(argv[6]);
  for (int i = 0; i < syncs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    try {
      manager->sync(appId).get();
    } catch (const qelvo::SyncError& error) {
      std::fprintf(stderr, "%s\n", error.errorDescription().c_str());
      return 1;
    }
    std::printf("%.6f\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return 0;
}
