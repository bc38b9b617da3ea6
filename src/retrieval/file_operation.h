// The error policy of the filesystem layer: a failed platform call is printed as one
// line (whether or not logging is enabled) and travels on as FileOperationError.
//
//   QELVO_TRY_VOID(performFileOperation(files::createDirectories(directory)));
#pragma once

#include <expected>
#include <type_traits>
#include <utility>

#include "base/output.h"
#include "qelvo/errors.h"

namespace qelvo {

// Prints the platform error's description and wraps it in `ioError`.
inline FileOperationError reportedFileError(PlatformError error) {
  printLine(error.description);
  return FileOperationError::ioError(std::move(error));
}

// The result of one platform call, its failure reported as above.
template <class T>
std::expected<T, FileOperationError> performFileOperation(std::expected<T, PlatformError> result) {
  if (!result) return std::unexpected(reportedFileError(std::move(result).error()));
  if constexpr (std::is_void_v<T>) {
    return {};
  } else {
    return std::move(result).value();
  }
}

// The result of an operation that is itself wrapped, wrapped once more: the first
// error's description is printed too and the error travels on bridged, so a failure
// prints two lines in all.
template <class T>
std::expected<T, FileOperationError> performWrappedFileOperation(
    std::expected<T, FileOperationError> result) {
  if (result) return result;
  return std::unexpected(reportedFileError(result.error().bridged()));
}

}  // namespace qelvo
