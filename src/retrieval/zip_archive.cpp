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

}  // namespace

std::expected<ZipArchive, PlatformError> openZipArchive(const std::filesystem::path& archive) {
  // Through a source rather than zip_open, so that a failure keeps the system's reason.
  ZipErrorValue error;
  auto what = "Could not open archive " + files::quoted(archive);
  zip_source_t* source = zip_source_file_create(archive.c_str(), 0, -1, error.get());
  if (!source) return std::unexpected(zipError(error.get(), what));
  ZipArchive opened(zip_open_from_source(source, ZIP_RDONLY, error.get()));
  if (!opened) {
    zip_source_free(source);
    return std::unexpected(zipError(error.get(), what));
  }
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
