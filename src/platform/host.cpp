#include "platform/host.h"

#include <openssl/rand.h>
#include <sys/utsname.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <set>
#include <system_error>

#include "qelvo/configuration.h"

namespace qelvo {
namespace {

struct HostState {
  std::mutex mutex;
  std::optional<HostConfiguration> host;
  std::set<std::string> loadedComponents;
};

HostState& state() {
  static HostState* s = new HostState;  // never destroyed: used by detached sync tasks
  return *s;
}

std::filesystem::path ensureDirectory(const std::filesystem::path& directory) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) {
    throw ConfigurationError("Unable to create directory " + directory.string() + ": " +
                             ec.message());
  }
  return directory;
}

}  // namespace

void configureHost(HostConfiguration configuration) {
  std::lock_guard lock(state().mutex);
  state().host = std::move(configuration);
}

std::optional<HostConfiguration> hostConfiguration() {
  std::lock_guard lock(state().mutex);
  return state().host;
}

void declareLoadedComponent(std::string className) {
  std::lock_guard lock(state().mutex);
  state().loadedComponents.insert(std::move(className));
}

namespace platform {

std::string bundleIdentifier() {
  auto host = hostConfiguration();
  if (!host || host->bundleIdentifier.empty()) {
    throw ConfigurationError("No bundle id for current bundle?");
  }
  return host->bundleIdentifier;
}

std::optional<std::string> shortVersionString() {
  auto host = hostConfiguration();
  if (!host) return std::nullopt;
  return host->shortVersionString;
}

std::filesystem::path containerRoot() {
  auto host = hostConfiguration();
  if (host && host->containerRoot) return *host->containerRoot;
  auto id = bundleIdentifier();
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::filesystem::path(xdg) / id;
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "share" / id;
}

std::filesystem::path libraryDirectory() { return ensureDirectory(containerRoot() / "Library"); }

std::filesystem::path temporaryDirectory() { return ensureDirectory(containerRoot() / "tmp"); }

std::string operatingSystemVersion() {
  utsname name{};
  if (uname(&name) != 0) return "unknown";
  return name.release;
}

bool isClassLoaded(const std::string& className) {
  std::lock_guard lock(state().mutex);
  return state().loadedComponents.contains(className);
}

std::string randomUuid() {
  // OpenSSL's generator reseeds after fork, so a forked process never repeats its parent.
  std::array<std::uint8_t, 16> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    std::random_device device;
    for (auto& b : bytes) b = static_cast<std::uint8_t>(device());
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

}  // namespace platform
}  // namespace qelvo
