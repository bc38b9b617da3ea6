// Construction of SyncError values, which only the library may do.
#pragma once

#include <string>

#include "qelvo/sync_error.h"

namespace qelvo {
namespace detail {
struct SyncErrorFactory {
  static SyncError make(std::string appId, SyncError::FailStep step, SyncError::Reason reason) {
    return SyncError(std::move(appId), step, std::move(reason));
  }
};
}  // namespace detail

inline SyncError makeSyncError(std::string appId, SyncError::FailStep step,
                               SyncError::Reason reason) {
  return detail::SyncErrorFactory::make(std::move(appId), step, std::move(reason));
}

inline SyncError metadataError(std::string appId, SyncError::FailStep step, std::string text) {
  return makeSyncError(std::move(appId), step, SyncError::Reason::metadataError(std::move(text)));
}

}  // namespace qelvo

#include "qelvo/error.h"

namespace qelvo {

// A client failure as a sync step reports it: a NetworkClientError becomes a SyncError
// of that step; any other error (a cancellation, a raw transfer error) passes unchanged.
inline Error syncErrorFromClient(const std::string& appId, SyncError::FailStep step, Error error) {
  if (auto* networkError = error.get<NetworkClientError>()) {
    return makeSyncError(appId, step, SyncError::Reason::networkError(*networkError));
  }
  return error;
}

// A file layer failure as the sync step `step` reports it: a FileOperationError becomes
// SyncError(step, fileManagerError); any other error passes unchanged.
inline Error fileErrorOfStep(const std::string& appId, SyncError::FailStep step, Error error) {
  if (auto* file = error.get<FileOperationError>()) {
    return makeSyncError(appId, step, SyncError::Reason::fileManagerError(*file));
  }
  return error;
}

}  // namespace qelvo
