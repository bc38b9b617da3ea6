/// @file
/// Process-wide configuration of the library: who the host is, where its data lives,
/// and how the standard deploy-service client reaches the service.
///
/// A host calls `configureHost` once, early, before it obtains any manager:
///
/// @code
///   qelvo::configureHost({.bundleIdentifier = "com.example.kiosk",
///                         .shortVersionString = "2.4.0"});
///   auto manager = qelvo::LiveUpdateManager::shared();
/// @endcode
///
/// Everything here is read when a manager (or the standard client) is first created;
/// later calls only affect managers created afterwards. Thread-safe.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "qelvo/export.h"

namespace qelvo {

/// Raised when the library cannot be set up: missing host identity, an unusable
/// metadata store, or an unusable public key. Its `what()` is the exact message.
class QELVO_EXPORT ConfigurationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Who the host is and where its data lives: given once per process, with `configureHost`, before
/// any manager is created.
struct HostConfiguration {
  /// The host application's identifier; names the metadata suites and the default
  /// container directory. Required.
  std::string bundleIdentifier;
  /// The host binary's short version string; snapshots are kept per binary version.
  /// Required before a manager is created.
  std::optional<std::string> shortVersionString;
  /// Root of the host's container, holding `Library/` and `tmp/`. Defaults to
  /// `$XDG_DATA_HOME/<bundleIdentifier>`, else `~/.local/share/<bundleIdentifier>`.
  std::optional<std::filesystem::path> containerRoot;
};

/// Sets (or, for tests, replaces) the host's identity for this process.
QELVO_EXPORT void configureHost(HostConfiguration configuration);

/// The identity last given to `configureHost`, if any.
QELVO_EXPORT std::optional<HostConfiguration> hostConfiguration();

/// How the standard client reaches the deploy service: given with `configureDeployService`, before
/// the first manager is created.
struct DeployServiceOptions {
  /// Base URL of the deploy service; its path ends in "/apps". Defaults to the build
  /// setting QELVO_DEPLOY_BASE_URL.
  std::optional<std::string> baseUrl{};
  /// CA bundle (PEM) trusted for the deploy service, for private deployments; it takes
  /// the place of libcurl's default CA bundle file (libcurl's CA directory, where it has
  /// one, stays in use). Certificates are always verified; there is no way to turn
  /// verification off.
  std::optional<std::filesystem::path> caFile{};
  /// Connections kept open to one host at most. Transfers beyond what they carry wait.
  std::size_t maxConnectionsPerHost = 16;
  /// Connections open at most, all hosts together.
  std::size_t maxConnections = 32;
  /// Transfers running at once; any number more wait in a queue without holding a
  /// socket or a file.
  std::size_t maxActiveTransfers = 64;
};

/// Configures the standard client that managers use. A new `baseUrl` holds for managers
/// created afterwards (managers already created keep the service they were made with).
/// All of them share one transfer engine, made when the first manager is created: the
/// CA file and the limits in effect at that moment stay in force while any manager
/// exists (the engine's threads end with the last manager).
QELVO_EXPORT void configureDeployService(DeployServiceOptions options);

/// Declares a named embedding component as loaded in this process; the check request
/// reports whether any of the known web-view embedding components is present.
QELVO_EXPORT void declareLoadedComponent(std::string className);

}  // namespace qelvo
