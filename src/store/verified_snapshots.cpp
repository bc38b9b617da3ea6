#include "store/verified_snapshots.h"

#include <algorithm>

#include "base/output.h"
#include "platform/json.h"

namespace qelvo {
namespace {

using json::Json;

constexpr const char* kVerifiedKeyPrefix = "LiveUpdateVerified-";

VerifiedRecord decode(const std::optional<std::string>& bytes) {
  VerifiedRecord record;
  if (!bytes) return record;
  auto document = json::parse(*bytes);
  if (!document || !document->is_object()) return record;
  if (auto highest = json::optional<std::int64_t>(*document, "highest_sequence", "")) {
    record.highestSequence = *highest;
  }
  const auto snapshots = document->find("snapshots");
  if (snapshots == document->end() || !snapshots->is_object()) return record;
  for (const auto& [id, value] : snapshots->items()) {
    if (!value.is_object()) continue;
    auto fingerprint = json::required<std::string>(value, "fingerprint", "");
    auto sequence = json::optional<std::int64_t>(value, "sequence", "");
    if (fingerprint && sequence) record.snapshots[id] = {std::move(*fingerprint), *sequence};
  }
  return record;
}

std::optional<std::string> encode(const VerifiedRecord& record) {
  Json snapshots = Json::object();
  for (const auto& [id, snapshot] : record.snapshots) {
    Json entry = {{"fingerprint", snapshot.fingerprint}};
    if (snapshot.sequence) entry["sequence"] = *snapshot.sequence;
    snapshots[id] = std::move(entry);
  }
  Json document = {{"snapshots", std::move(snapshots)}};
  if (record.highestSequence) document["highest_sequence"] = *record.highestSequence;
  auto text = json::dump(document);  // fails only for ids that are not UTF-8
  if (!text) return std::nullopt;
  return std::move(*text);
}

}  // namespace

VerifiedRecord verifiedRecord(const KeyValueSuite& store, const std::string& appId) {
  auto bytes = store.data(kVerifiedKeyPrefix + appId);
  if (!bytes) {
    printLine(bytes.error().description);
    return {};
  }
  return decode(*bytes);
}

void recordVerifiedSnapshot(KeyValueSuite& store, const std::string& appId,
                            const std::string& snapshotId, const VerifiedSnapshot& snapshot,
                            const std::set<std::string>& kept) {
  auto updated = store.updateData(
      kVerifiedKeyPrefix + appId, [&](std::optional<std::string> bytes) {
        auto record = decode(bytes);
        std::erase_if(record.snapshots, [&](const auto& entry) { return !kept.contains(entry.first); });
        record.snapshots[snapshotId] = snapshot;
        if (snapshot.sequence) {
          record.highestSequence = std::max(record.highestSequence.value_or(*snapshot.sequence),
                                            *snapshot.sequence);
        }
        return encode(record);
      });
  if (!updated) printLine(updated.error().description);
}

}  // namespace qelvo
