#include "retrieval/zstd_patch.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <bit>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

#include "base/file_modes.h"
#include "base/unique_fd.h"
#include "retrieval/file_system.h"

namespace qelvo {
namespace {

using std::filesystem::path;

// zstd's smallest window (ZSTD_WINDOWLOG_MIN, which zstd.h shows only to static linkers).
constexpr int kSmallestWindowLog = 10;

struct DContextDeleter {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// A read-only mapping of a whole file.
class MappedFile {
 public:
  static std::expected<MappedFile, PlatformError> open(const path& file) {
    UniqueFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
      return std::unexpected(PlatformError::fromErrno(errno ? errno : EINVAL,
                                                      "Could not read " + files::quoted(file)));
    }
    // A 32-bit process cannot map a file over its address space; the size would wrap.
    if (!std::in_range<std::size_t>(status.st_size)) {
      return std::unexpected(PlatformError::fromErrno(EFBIG, "Could not map " + files::quoted(file)));
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    if (size == 0) return MappedFile(nullptr, 0);
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (data == MAP_FAILED) {
      return std::unexpected(PlatformError::fromErrno(errno, "Could not map " + files::quoted(file)));
    }
    return MappedFile(data, size);
  }
  MappedFile(MappedFile&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  MappedFile& operator=(MappedFile&&) = delete;
  ~MappedFile() {
    if (data_) ::munmap(data_, size_);
  }
  const void* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  MappedFile(void* data, std::size_t size) : data_(data), size_(size) {}
  void* data_;
  std::size_t size_;
};

PlatformError refused(const path& patch, const std::string& why) {
  return PlatformError("QelvoLiveUpdates.PatchError", 1,
                       "Could not apply the patch " + files::quoted(patch) + ": " + why);
}

std::expected<void, PlatformError> decompress(const MappedFile& base, int patchFd,
                                              const path& patch, int outputFd,
                                              const PatchBounds& bounds, const std::stop_token& stop) {
  std::unique_ptr<ZSTD_DCtx, DContextDeleter> context(ZSTD_createDCtx());
  // The window may not pass the bound: it is what a frame makes the decoder allocate.
  const int windowLog = std::bit_width(std::max<std::uint64_t>(bounds.maxWindowBytes, 1)) - 1;
  if (!context || ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax,
                                                      std::max(windowLog, kSmallestWindowLog))) ||
      ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), base.data(), base.size()))) {
    return std::unexpected(refused(patch, "the decoder could not be set up"));
  }
  std::vector<char> input(ZSTD_DStreamInSize());
  std::vector<char> output(ZSTD_DStreamOutSize());
  std::uint64_t written = 0;
  std::size_t pending = 1;  // bytes the frame still needs; 0 once it ended
  for (;;) {
    if (stop.stop_requested()) return std::unexpected(PlatformError::fromErrno(ECANCELED, "Patching stopped"));
    const auto got = ::read(patchFd, input.data(), input.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::unexpected(PlatformError::fromErrno(errno, "Could not read " + files::quoted(patch)));
    if (got == 0) break;
    ZSTD_inBuffer in{input.data(), static_cast<std::size_t>(got), 0};
    while (in.pos < in.size) {
      // One frame only: the reference prefix holds for the first frame alone.
      if (pending == 0) return std::unexpected(refused(patch, "it holds more than one frame"));
      ZSTD_outBuffer out{output.data(), output.size(), 0};
      pending = ZSTD_decompressStream(context.get(), &out, &in);
      if (ZSTD_isError(pending)) return std::unexpected(refused(patch, ZSTD_getErrorName(pending)));
      written += out.pos;
      if (written > bounds.maxOutputBytes) {
        return std::unexpected(refused(patch, "it makes more than " +
                                                  std::to_string(bounds.maxOutputBytes) + " bytes"));
      }
      if (int error = files::writeAll(outputFd, std::string_view(output.data(), out.pos))) {
        return std::unexpected(PlatformError::fromErrno(error, "Could not write the patched file"));
      }
    }
  }
  if (pending != 0) return std::unexpected(refused(patch, "it ends before its frame does"));
  return {};
}

}  // namespace

std::expected<void, PlatformError> applyZstdPatch(const path& base, const path& patch,
                                                  const path& output, const PatchBounds& bounds,
                                                  std::stop_token stop) {
  auto mapped = MappedFile::open(base);
  if (!mapped) return std::unexpected(mapped.error());
  UniqueFd patchFd(::open(patch.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!patchFd) return std::unexpected(PlatformError::fromErrno(errno, "Could not read " + files::quoted(patch)));
  UniqueFd outputFd(::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
  if (!outputFd) {
    return std::unexpected(PlatformError::fromErrno(errno, "Could not create " + files::quoted(output)));
  }
  auto applied = decompress(*mapped, patchFd.get(), patch, outputFd.get(), bounds, stop);
  if (applied && outputFd.close() != 0) {
    applied = std::unexpected(PlatformError::fromErrno(errno, "Could not write " + files::quoted(output)));
  }
  if (!applied) ::unlink(output.c_str());
  return applied;
}

}  // namespace qelvo
