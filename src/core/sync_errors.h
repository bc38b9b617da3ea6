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
