// A file with a unique name that exists only until its owner lets it go: the body of
// a download, written as it arrives and handed over once the transfer has ended.
#pragma once

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <string_view>

#include "qelvo/errors.h"

namespace qelvo {

class TemporaryFile {
 public:
  // Creates a new empty file, open for writing, in `directory`.
  static std::expected<TemporaryFile, PlatformError> create(const std::filesystem::path& directory);
  // Takes `descriptor` (open for writing on `path`) as a file that stays where it is when
  // its owner lets it go: a partial download kept for the next attempt.
  static std::expected<TemporaryFile, PlatformError> keptAt(int descriptor,
                                                            std::filesystem::path path);

  TemporaryFile(TemporaryFile&& other) noexcept;
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  // Closes the file and removes it when it is still there (not moved away).
  ~TemporaryFile();

  const std::filesystem::path& path() const { return path_; }

  // Appends `bytes`; the file must still be open.
  std::expected<void, PlatformError> write(std::string_view bytes);
  // Closes the file, keeping it on disk; later calls do nothing.
  std::expected<void, PlatformError> close();

 private:
  TemporaryFile(int descriptor, std::filesystem::path path, dev_t device, ino_t inode,
                bool kept = false)
      : descriptor_(descriptor),
        path_(std::move(path)),
        device_(device),
        inode_(inode),
        kept_(kept) {}
  void release() noexcept;

  int descriptor_ = -1;
  std::filesystem::path path_;
  // Identify the file, so that a new file that took the name after ours was moved away
  // is never removed in its place.
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool kept_ = false;  // not removed on release
};

}  // namespace qelvo
