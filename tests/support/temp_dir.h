// A fresh directory under the system temporary directory, removed with everything in
// it when the object goes away.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qelvo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes `content` to `file`, creating its parent directories.
void writeFile(const std::filesystem::path& file, const std::string& content);
// The same, readable and writable by its owner only (a private key).
void writePrivateFile(const std::filesystem::path& file, const std::string& content);
// The whole content of `file` (empty when it cannot be read).
std::string readFile(const std::filesystem::path& file);
// Every regular file below `root`, as relative paths with "/" separators, sorted.
std::vector<std::string> listFiles(const std::filesystem::path& root);

}  // namespace qelvo::test
