#include "publishing/rollout.h"

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <string>

namespace qelvo::publishing {

int rolloutBucket(std::string_view deviceId, std::string_view snapshotId) {
  std::string input;
  input.reserve(deviceId.size() + 1 + snapshotId.size());
  input.append(deviceId).append("\n").append(snapshotId);
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  EVP_Digest(input.data(), input.size(), digest.data(), &length, EVP_sha256(), nullptr);
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | digest[static_cast<std::size_t>(i)];
  return static_cast<int>(value % 100);
}

bool receivesRollout(std::string_view deviceId, std::string_view snapshotId, int percent) {
  return rolloutBucket(deviceId, snapshotId) < percent;
}

}  // namespace qelvo::publishing
