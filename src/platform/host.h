// The host's identity and its container directories, standing in for the bundle and
// sandbox services of a mobile platform. Resolved from `configureHost`.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qelvo::platform {

// The configured bundle identifier; throws ConfigurationError
// "No bundle id for current bundle?" when none was configured (or it is empty).
std::string bundleIdentifier();

// The configured short version string, if any.
std::optional<std::string> shortVersionString();

// The container root: configured, or $XDG_DATA_HOME/<bundle id>, or
// ~/.local/share/<bundle id>.
std::filesystem::path containerRoot();

// {container}/Library, created when missing. Throws ConfigurationError when it cannot
// be created.
std::filesystem::path libraryDirectory();

// {container}/tmp, created when missing; on the same filesystem as the Library
// directory, so moving out of it is a rename.
std::filesystem::path temporaryDirectory();

// The running kernel's release string (uname), standing for the OS version.
std::string operatingSystemVersion();

// Whether `declareLoadedComponent` declared this class name.
bool isClassLoaded(const std::string& className);

// A random UUID in its 36-character upper-case hyphenated form.
std::string randomUuid();

}  // namespace qelvo::platform
