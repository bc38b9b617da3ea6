// The files a fuzz target works with: a directory of its own, made once per process,
// and the input written into it.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace qelvo::fuzz {

// A fresh directory under the system's temporary directory, named from `prefix`.
inline std::filesystem::path makeWorkspace(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) std::abort();
  return pattern;
}

inline void writeInput(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace qelvo::fuzz
