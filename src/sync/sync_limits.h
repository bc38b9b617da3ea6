// The manager's Limits as the client and the archive extractor take them, for one sync.
#pragma once

#include "client/http_request.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/zip_extractor.h"

namespace qelvo {

// The pace and deadline of every transfer of the sync.
inline void applyPace(HttpRequest& request, const LiveUpdateManager::SyncContext& context) {
  request.idleTimeout = context.limits.idleTimeout;
  request.minBytesPerSecond = context.limits.minTransferRate;
  request.deadline = context.deadline;
}

inline ExchangeLimits exchangeLimits(const LiveUpdateManager::SyncContext& context,
                                     std::uint64_t maxBodyBytes) {
  return {.maxBodyBytes = maxBodyBytes,
          .idleTimeout = context.limits.idleTimeout,
          .minBytesPerSecond = context.limits.minTransferRate,
          .deadline = context.deadline};
}

inline ExchangeLimits checkExchangeLimits(const LiveUpdateManager::SyncContext& context) {
  return exchangeLimits(context, context.limits.maxCheckResponseBytes);
}

inline ExchangeLimits manifestExchangeLimits(const LiveUpdateManager::SyncContext& context) {
  return exchangeLimits(context, context.limits.maxManifestBytes);
}

inline ExtractLimits extractLimits(const LiveUpdateManager::Limits& limits) {
  return {.maxEntries = limits.maxArchiveEntries,
          .maxTotalUncompressedBytes = limits.maxUnpackedBytes,
          .maxCompressionRatio = limits.maxCompressionRatio};
}

}  // namespace qelvo
