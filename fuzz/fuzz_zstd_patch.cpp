// Patch application against a fixed older file: whatever the patch holds, applying it
// ends, writes no more than its bound, and leaves no output behind when it fails.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_files.h"
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
    auto made = qelvo::fuzz::makeWorkspace("qelvo-fuzz-patch");
    std::ofstream(made / "base", std::ios::binary) << baseText();
    return made;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto root = workspace();
  const auto patch = root / "patch";
  const auto output = root / "output";
  qelvo::fuzz::writeInput(patch, data, size);
  const auto applied = qelvo::applyZstdPatch(root / "base", patch, output, kBounds);
  std::error_code ec;
  if (!applied && fs::exists(output, ec)) std::abort();  // a failure leaves nothing
  if (applied && fs::file_size(output) > kBounds.maxOutputBytes) std::abort();
  fs::remove(output, ec);
  return 0;
}
