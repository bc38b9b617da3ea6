// Patch application against a fixed older file: whatever the patch holds, applying it
// ends, writes no more than its bound, and leaves no output behind when it fails.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "retrieval/zstd_patch.h"

namespace {

namespace fs = std::filesystem;

constexpr qelvo::PatchBounds kBounds{.maxOutputBytes = 1 << 20, .maxWindowBytes = 1 << 20};

// The older file every patch applies to; fuzz/make-seeds writes patches of edits of it.
std::string baseText() {
  std::string text;
  for (int i = 0; i < 2048; ++i) {
    text += "function f" + std::to_string(i) + "(){return " + std::to_string(i * 7) + ";}\n";
  }
  return text;
}

fs::path workspace() {
  static const fs::path root = [] {
    std::string pattern = (fs::temp_directory_path() / "qelvo-fuzz-patch-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    std::ofstream(fs::path(pattern) / "base", std::ios::binary) << baseText();
    return fs::path(pattern);
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto root = workspace();
  const auto patch = root / "patch";
  const auto output = root / "output";
  {
    std::ofstream out(patch, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const auto applied = qelvo::applyZstdPatch(root / "base", patch, output, kBounds);
  std::error_code ec;
  if (!applied && fs::exists(output, ec)) std::abort();  // a failure leaves nothing
  if (applied && fs::file_size(output) > kBounds.maxOutputBytes) std::abort();
  fs::remove(output, ec);
  return 0;
}
