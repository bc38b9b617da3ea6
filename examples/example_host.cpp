// A tiny host: configures its identity, registers one web app and prints what the
// library knows about it.
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "qelvo/qelvo.h"

int main(int argc, char** argv) {
  std::filesystem::path container =
      argc > 1 ? argv[1] : std::filesystem::temp_directory_path() / "qelvo-example-host";
  qelvo::configureHost({.bundleIdentifier = "dev.qelvo.example",
                        .shortVersionString = "1.0.0",
                        .containerRoot = container});
  auto manager = qelvo::LiveUpdateManager::shared();
  manager->add(qelvo::LiveUpdate("example-app", "production", false,
                                 qelvo::LiveUpdate::Strategy::zip));

  for (const auto& [appId, app] : manager->apps()) {
    std::cout << "app " << appId << " on channel " << app.channel << " ("
              << qelvo::LiveUpdate::rawValue(app.strategy) << ")\n";
    auto directory = manager->latestAppDirectory(appId);
    std::cout << "  loads from: " << (directory ? directory->string() : "(bundled copy)") << "\n";
    std::cout << "  last sync:  " << (manager->lastSync(appId) ? "yes" : "never") << "\n";
  }
  std::cout << "container: " << container << "\n";
  return EXIT_SUCCESS;
}
