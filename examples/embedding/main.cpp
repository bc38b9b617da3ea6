// An example host: keeps one web app up to date and says where to load it from.
//
//   example-host DATA_DIR [DEPLOY_URL [CA_FILE]]
//
// Without DEPLOY_URL it only reports what is already on disk.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <variant>

#include "qelvo/qelvo.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: example-host DATA_DIR [DEPLOY_URL [CA_FILE]]\n";
    return 2;
  }
  // Who the host is and where its data lives; once, before any manager exists.
  qelvo::configureHost({.bundleIdentifier = "com.example.kiosk",
                        .shortVersionString = "1.0.0",
                        .containerRoot = std::filesystem::absolute(argv[1])});
  if (argc > 2) {
    std::optional<std::filesystem::path> caFile;
    if (argc > 3) caFile = argv[3];
    qelvo::configureDeployService({.baseUrl = argv[2], .caFile = caFile});
  }

  // Registrations live in memory: repeat them at every start.
  auto manager = qelvo::LiveUpdateManager::shared();
  manager->add(qelvo::LiveUpdate("sample-web", "production", /*syncOnAdd=*/false,
                                 qelvo::LiveUpdate::Strategy::differential));

  if (argc > 2) {
    try {
      auto result = manager->sync("sample-web").get();
      bool downloaded =
          std::holds_alternative<qelvo::LiveUpdateManager::SyncResult::Download>(result.source);
      std::cout << (downloaded ? "downloaded snapshot " : "up to date with snapshot ")
                << result.id().value_or("(none offered)") << "\n";
    } catch (const qelvo::SyncError& error) {
      // The app keeps running on what it had: a failed sync never breaks the last good copy.
      std::cerr << error.errorDescription() << "\n";
    }
  }

  if (auto directory = manager->latestAppDirectory("sample-web")) {
    std::cout << "load " << (*directory / "index.html").string() << "\n";
  } else {
    std::cout << "load the copy bundled with the host\n";
  }
  return EXIT_SUCCESS;
}
