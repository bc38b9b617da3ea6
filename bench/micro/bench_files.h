// Web-like files for the micro-benchmarks: deterministic, about half compressible text
// and half random bytes, 1 to 20 KiB, 64 per directory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace qelvo::bench {

struct BenchFile {
  std::string href;
  std::string content;
};

std::vector<BenchFile> makeFiles(std::size_t count);

// A directory that does not exist yet under a fresh temporary directory, removed (with
// everything below it) at exit. Each run writes into a new one: a tree rewritten where
// one was just deleted costs several times more on ext4 and would measure the disk.
std::filesystem::path freshDirectory(const std::string& name);

}  // namespace qelvo::bench
