#include "retrieval/zip_archive.h"

#include "retrieval/file_system.h"

namespace qelvo {
namespace {

class ZipErrorValue {
 public:
  ZipErrorValue() { zip_error_init(&error_); }
  ~ZipErrorValue() { zip_error_fini(&error_); }
  ZipErrorValue(const ZipErrorValue&) = delete;
  ZipErrorValue& operator=(const ZipErrorValue&) = delete;
  zip_error_t* get() { return &error_; }

 private:
  zip_error_t error_;
};

std::expected<ZipArchive, PlatformError> openWith(const std::filesystem::path& archive, int flags) {
  ZipErrorValue error;
  auto what = "Could not open archive " + files::quoted(archive);
  zip_source_t* source = zip_source_file_create(archive.c_str(), 0, -1, error.get());
  if (!source) return std::unexpected(zipError(error.get(), what));
  ZipArchive opened(zip_open_from_source(source, flags, error.get()));
  if (!opened) {
    zip_source_free(source);
    return std::unexpected(zipError(error.get(), what));
  }
  return opened;
}

}  // namespace

std::expected<ZipArchive, PlatformError> openZipArchive(const std::filesystem::path& archive) {
  // Through a source rather than zip_open, so that a failure keeps the system's reason.
  // ZIP_CHECKCONS: every local header must agree with the central directory, so the name
  // that is checked is the name of the data that is written. It also refuses duplicate
  // names, without saying which: such an archive is opened without it, so that the
  // extraction's own check names the entry.
  auto opened = openWith(archive, ZIP_RDONLY | ZIP_CHECKCONS);
  if (!opened && opened.error().code == ZIP_ER_EXISTS) return openWith(archive, ZIP_RDONLY);
  return opened;
}

PlatformError zipError(zip_error_t* error, const std::string& what) {
  return PlatformError("libzip", zip_error_code_zip(error),
                       what + ": " + zip_error_strerror(error));
}

PlatformError zipError(int code, const std::string& what) {
  ZipErrorValue error;
  zip_error_set(error.get(), code, 0);
  return zipError(error.get(), what);
}

}  // namespace qelvo
