// The textual form of a local path as a file URL, for log lines.
#pragma once

#include <filesystem>
#include <string>

namespace qelvo {

inline std::string fileUrlText(const std::filesystem::path& path) { return "file://" + path.string(); }

}  // namespace qelvo
