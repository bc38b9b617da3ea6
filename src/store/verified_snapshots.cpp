#include "store/verified_snapshots.h"

#include "base/output.h"
#include "platform/json.h"

namespace qelvo {
namespace {

constexpr const char* kVerifiedKeyPrefix = "LiveUpdateVerified-";

// The stored object, or an empty one when there is none or it does not decode (then
// every snapshot is verified again: nothing is served on a guess).
json::Json fingerprintsIn(const std::optional<std::string>& bytes) {
  if (!bytes) return json::Json::object();
  auto document = json::parse(*bytes);
  if (!document || !document->is_object()) return json::Json::object();
  return std::move(*document);
}

}  // namespace

std::optional<std::string> verifiedFingerprint(const KeyValueSuite& store, const std::string& appId,
                                               const std::string& snapshotId) {
  auto bytes = store.data(kVerifiedKeyPrefix + appId);
  if (!bytes) {
    printLine(bytes.error().description);
    return std::nullopt;
  }
  auto fingerprints = fingerprintsIn(*bytes);
  auto found = fingerprints.find(snapshotId);
  if (found == fingerprints.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

void recordVerifiedFingerprint(KeyValueSuite& store, const std::string& appId,
                               const std::string& snapshotId, const std::string& fingerprint,
                               const std::set<std::string>& kept) {
  auto updated = store.updateData(
      kVerifiedKeyPrefix + appId, [&](std::optional<std::string> bytes) -> std::optional<std::string> {
        auto fingerprints = fingerprintsIn(bytes);
        json::Json next = json::Json::object();
        for (auto& [id, value] : fingerprints.items()) {
          if (kept.contains(id)) next[id] = std::move(value);
        }
        next[snapshotId] = fingerprint;
        auto text = json::dump(next);  // fails only for ids that are not UTF-8
        if (!text) return std::nullopt;
        return std::move(*text);
      });
  if (!updated) printLine(updated.error().description);
}

}  // namespace qelvo
