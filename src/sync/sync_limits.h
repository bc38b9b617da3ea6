// The manager's Limits as the client and the archive extractor take them.
#pragma once

#include "client/http_request.h"
#include "qelvo/live_update_manager.h"
#include "retrieval/zip_extractor.h"

namespace qelvo {

inline ExchangeLimits checkExchangeLimits(const LiveUpdateManager::Limits& limits) {
  return {.maxBodyBytes = limits.maxCheckResponseBytes, .idleTimeout = limits.idleTimeout};
}

inline ExchangeLimits manifestExchangeLimits(const LiveUpdateManager::Limits& limits) {
  return {.maxBodyBytes = limits.maxManifestBytes, .idleTimeout = limits.idleTimeout};
}

inline ExtractLimits extractLimits(const LiveUpdateManager::Limits& limits) {
  return {.maxEntries = limits.maxArchiveEntries,
          .maxTotalUncompressedBytes = limits.maxUnpackedBytes,
          .maxCompressionRatio = limits.maxCompressionRatio};
}

}  // namespace qelvo
