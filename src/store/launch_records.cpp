#include "store/launch_records.h"

#include <algorithm>
#include <limits>

#include "base/try.h"
#include "platform/json.h"
#include "store/records_json.h"

namespace qelvo {
namespace {

using json::Json;
using Status = LaunchState::Status;

constexpr Status kStatuses[] = {Status::started, Status::confirmed, Status::bad};

Json attemptJson(const LaunchState::Attempt& attempt) {
  Json json = {{"id", attempt.id}};
  if (attempt.snapshotId) json["snapshot"] = *attempt.snapshotId;
  json["started"] = referenceSeconds(attempt.started);
  json["status"] = LaunchState::rawValue(attempt.status);
  json["unconfirmed_launches"] = attempt.unconfirmedLaunches;
  return json;
}

std::expected<LaunchState::Attempt, DecodingError> decodeAttempt(const Json& value,
                                                                 const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  LaunchState::Attempt attempt;
  QELVO_TRY(attempt.id, json::required<std::string>(*object, "id", path));
  QELVO_TRY(attempt.snapshotId, json::optional<std::string>(*object, "snapshot", path));
  QELVO_TRY(attempt.started, decodeDate(*object, "started", path));
  QELVO_TRY(auto status, json::required<std::string>(*object, "status", path));
  auto named = std::ranges::find(kStatuses, status, &LaunchState::rawValue);
  if (named == std::end(kStatuses)) {
    return std::unexpected(
        DecodingError(json::memberPath(path, "status"), "Unknown launch status " + status));
  }
  attempt.status = *named;
  QELVO_TRY(auto count, json::required<std::int64_t>(*object, "unconfirmed_launches", path));
  if (count < 0 || count > std::numeric_limits<int>::max()) {
    return std::unexpected(DecodingError(json::memberPath(path, "unconfirmed_launches"),
                                         "Count out of range: " + std::to_string(count) + "."));
  }
  attempt.unconfirmedLaunches = static_cast<int>(count);
  return attempt;
}

std::expected<FailedSnapshot, DecodingError> decodeFailure(const Json& value,
                                                           const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  FailedSnapshot failure;
  QELVO_TRY(failure.snapshotId, json::required<std::string>(*object, "snapshot", path));
  QELVO_TRY(failure.failedAt, decodeDate(*object, "failed_at", path));
  QELVO_TRY(failure.reason, json::required<std::string>(*object, "reason", path));
  return failure;
}

}  // namespace

std::string_view LaunchState::rawValue(Status status) {
  switch (status) {
    case Status::started:
      return "started";
    case Status::confirmed:
      return "confirmed";
    case Status::bad:
      return "bad";
  }
  return "started";  // unreachable: every status is handled above
}

const FailedSnapshot* LaunchRecord::failure(const std::string& snapshotId) const {
  auto found = std::ranges::find(failed, snapshotId, &FailedSnapshot::snapshotId);
  return found == failed.end() ? nullptr : &*found;
}

std::string launchKey(const std::string& appId) { return "LiveUpdateLaunch-" + appId; }

std::expected<std::string, EncodingError> encodeLaunch(const LaunchRecord& record) {
  Json json = Json::object();
  if (record.attempt) json["attempt"] = attemptJson(*record.attempt);
  if (record.confirmedSnapshot) json["confirmed_snapshot"] = *record.confirmedSnapshot;
  Json failed = Json::array();
  for (const auto& failure : record.failed) {
    failed.push_back({{"snapshot", failure.snapshotId},
                      {"failed_at", referenceSeconds(failure.failedAt)},
                      {"reason", failure.reason}});
  }
  json["failed"] = std::move(failed);
  return json::dump(json);
}

std::expected<LaunchRecord, DecodingError> decodeLaunch(std::string_view text) {
  QELVO_TRY(auto document, json::parse(text));
  QELVO_TRY(const Json* object, json::asObject(document, ""));
  LaunchRecord record;
  if (const Json* attempt = json::optionalMember(*object, "attempt")) {
    QELVO_TRY(record.attempt, decodeAttempt(*attempt, "attempt"));
  }
  QELVO_TRY(record.confirmedSnapshot,
            json::optional<std::string>(*object, "confirmed_snapshot", ""));
  QELVO_TRY(const Json* failed, json::requiredMember(*object, "failed", ""));
  QELVO_TRY(const Json* array, json::asArray(*failed, "failed"));
  for (std::size_t index = 0; index < array->size(); ++index) {
    QELVO_TRY(auto failure, decodeFailure((*array)[index], json::indexPath("failed", index)));
    record.failed.push_back(std::move(failure));
  }
  return record;
}

}  // namespace qelvo
