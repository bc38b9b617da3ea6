#include "bench_files.h"

#include <stdlib.h>

#include <random>

namespace qelvo::bench {
namespace {

const std::filesystem::path& benchRoot() {
  static const std::filesystem::path root = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "qelvo-micro-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create " + pattern);
    std::atexit([] { std::filesystem::remove_all(benchRoot()); });
    return std::filesystem::path(pattern);
  }();
  return root;
}

}  // namespace

std::vector<BenchFile> makeFiles(std::size_t count) {
  static const char* words[] = {"function", "return", "const", "render", "=>", "{", "}", "value",
                                "props", "import", "export", "div", "class", "style", ";\n"};
  std::mt19937_64 random(42);
  std::uniform_int_distribution<std::size_t> size(1024, 20 * 1024);
  std::vector<BenchFile> files;
  for (std::size_t i = 0; i < count; ++i) {
    BenchFile file;
    const bool binary = i % 2 == 1;
    file.href = "assets/" + std::to_string(i / 64) + (binary ? "/image" : "/module") +
                std::to_string(i) + (binary ? ".png" : ".js");
    const std::size_t bytes = size(random);
    while (file.content.size() < bytes) {
      if (binary) {
        file.content.push_back(static_cast<char>(random()));
      } else {
        file.content += words[random() % std::size(words)];
        file.content += ' ';
      }
    }
    file.content.resize(bytes);
    files.push_back(std::move(file));
  }
  return files;
}

std::filesystem::path freshDirectory(const std::string& name) {
  static int runs = 0;
  return benchRoot() / (name + "-" + std::to_string(runs++));
}

}  // namespace qelvo::bench
