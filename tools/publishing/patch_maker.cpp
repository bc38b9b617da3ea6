#include "publishing/patch_maker.h"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <fstream>
#include <memory>
#include <sstream>

#include "publishing/atomic_write.h"
#include "publishing/deploy_root.h"
#include "toolkit/toolkit.h"

namespace qelvo::publishing {
namespace {

// As `zstd -19 --long` would: the smallest patches, at a cost only publishing pays.
constexpr int kPatchLevel = 19;

struct CContextDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

std::optional<std::string> readWhole(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  if (!in || !(bytes << in.rdbuf())) return std::nullopt;
  return bytes.str();
}

// What the file costs compressed on its own, as a server sends it (deflate, level 6).
std::size_t deflatedSize(std::string_view bytes) {
  uLongf size = compressBound(static_cast<uLong>(bytes.size()));
  std::string buffer(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(buffer.data()), &size,
                reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                6) != Z_OK) {
    return bytes.size();
  }
  return size;
}

}  // namespace

std::optional<std::string> makeZstdPatch(std::string_view base, std::string_view target) {
  if (base.size() > kMaxPatchedFileBytes || target.size() > kMaxPatchedFileBytes) return std::nullopt;
  std::unique_ptr<ZSTD_CCtx, CContextDeleter> context(ZSTD_createCCtx());
  // A window that covers the reference and the file, so that matches reach all of it.
  const int windowLog = std::clamp<int>(
      std::bit_width(std::max(base.size(), target.size()) + 1), 10, 27);
  if (!context ||
      ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, kPatchLevel)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, windowLog)) ||
      ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_enableLongDistanceMatching, 1)) ||
      ZSTD_isError(ZSTD_CCtx_refPrefix(context.get(), base.data(), base.size()))) {
    return std::nullopt;
  }
  std::string patch(ZSTD_compressBound(target.size()), '\0');
  const auto size = ZSTD_compress2(context.get(), patch.data(), patch.size(), target.data(),
                                   target.size());
  if (ZSTD_isError(size)) return std::nullopt;
  patch.resize(size);
  return patch;
}

std::optional<PatchSource> patchSourceOf(std::string snapshotId, std::filesystem::path files) {
  auto text = readWhole(files / kManifestName);
  if (!text) return std::nullopt;
  auto manifest = Manifest::decode(*text);
  if (!manifest) return std::nullopt;
  PatchSource source{std::move(snapshotId), std::move(files), {}};
  for (const auto& item : manifest->payload) source.integrities.emplace(item.href, item.integrity);
  return source;
}

std::expected<std::size_t, std::string> addPatches(std::vector<ManifestItem>& items,
                                                   const std::filesystem::path& files,
                                                   const std::vector<PatchSource>& sources) {
  std::size_t written = 0;
  for (auto& item : items) {
    std::optional<std::string> target;
    for (const auto& source : sources) {
      auto baseDigest = source.integrities.find(item.href);
      if (baseDigest == source.integrities.end() || baseDigest->second == item.integrity) {
        continue;  // absent, or unchanged
      }
      if (!target) target = readWhole(files / item.href);
      auto base = readWhole(source.files / item.href);
      if (!target || !base) continue;
      auto patch = makeZstdPatch(*base, *target);
      if (!patch || patch->size() * 2 >= deflatedSize(*target)) continue;
      const std::string href =
          std::string(kPatchesDirectoryName) + "/" + source.snapshotId + "/" + item.href;
      std::error_code error;
      std::filesystem::create_directories((files / href).parent_path(), error);
      if (error) return std::unexpected("Could not create a patch directory: " + error.message());
      QELVO_TRY_VOID(writeFileAtomically(files / href, *patch));
      item.patches.push_back({baseDigest->second, href, patch->size(), "zstd-patch"});
      ++written;
    }
  }
  return written;
}

}  // namespace qelvo::publishing
