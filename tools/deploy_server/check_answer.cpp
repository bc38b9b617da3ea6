#include "deploy_server/check_answer.h"

#include <algorithm>

#include "publishing/rollout.h"
#include "toolkit/toolkit.h"

namespace qelvo::deploy {
namespace {

using publishing::DeployRoot;
using publishing::RootError;

Answer notFound(const std::string& message) { return errorAnswer(404, "not_found", message); }

Answer rootFailure(const RootError& error) {
  if (error.kind == RootError::Kind::missing) return notFound(error.message);
  return errorAnswer(500, "server_error", error.message);
}

Answer success(const SuccessResponseData& data) {
  auto body = SuccessResponse{data}.toJson();
  if (!body) return errorAnswer(500, "server_error", body.error().description);
  return {200, std::move(*body)};
}

bool runsOn(const publishing::SnapshotRecord& snapshot, const std::string& binaryVersion) {
  const auto& versions = snapshot.compatibleBinaryVersions;
  return !versions ||
         std::find(versions->begin(), versions->end(), binaryVersion) != versions->end();
}

}  // namespace

Answer errorAnswer(int status, const std::string& type, const std::string& message) {
  BraxoErrorResponse envelope{{.link = std::nullopt,
                               .message = message,
                               .type = type,
                               .details = std::nullopt,
                               .eventId = platform::randomUuid()}};
  auto body = encodeBraxoErrorResponse(envelope);
  if (!body) {  // a message quoting a name that is not UTF-8
    envelope.error.message = "The request names something that is not valid UTF-8.";
    body = encodeBraxoErrorResponse(envelope);
  }
  return {status, body.value_or("{}")};
}

std::string snapshotUrl(std::string_view filesUrl, const std::string& appId,
                        const std::string& snapshotId, bool manifest) {
  std::string url(filesUrl);
  url += '/';
  url += percentEncodeComponent(appId);
  url += "/snapshots/";
  url += percentEncodeComponent(snapshotId);
  url += '/';
  if (!manifest) return url += publishing::kArchiveName;
  return url.append(publishing::kFilesDirectoryName).append("/").append(publishing::kManifestName);
}

Answer answerCheckDevice(const RecordCache& records, const std::string& appId,
                         std::string_view requestBody, std::string_view filesUrl) {
  // An unknown app is answered 404 whatever the body; the app is looked for only when
  // the channel is not found, so a check costs one stat less.
  auto unknownApp = [&] { return !records.root().hasApp(appId); };
  auto appNotFound = [&] { return notFound("App " + appId + " was not found."); };
  auto request = CheckRequest::fromJson(requestBody);
  if (!request && unknownApp()) return appNotFound();
  if (!request) {
    std::string where =
        request.error().codingPath.empty() ? "" : " (" + request.error().codingPath + ")";
    return errorAnswer(
        400, "bad_request",
        "The body is not a check-device request" + where + ": " + request.error().description);
  }
  if (request->appId != appId && unknownApp()) return appNotFound();
  if (request->appId != appId) {
    return errorAnswer(
        400, "bad_request",
        "The app_id " + request->appId + " does not match the app " + appId + " of the path.");
  }
  auto channel = records.channel(appId, request->channelName);
  if (!channel) {
    if (channel.error().kind == RootError::Kind::missing) {
      if (unknownApp()) return appNotFound();
      return notFound("App " + appId + " has no channel " + request->channelName + ".");
    }
    return rootFailure(channel.error());
  }
  std::string offered = channel->snapshot;
  if (const auto& rollout = channel->rollout;
      rollout &&
      publishing::receivesRollout(request->device.deviceId, rollout->snapshot, rollout->percent)) {
    offered = rollout->snapshot;
  }
  auto snapshot = records.snapshot(appId, offered);
  if (!snapshot) {  // a channel naming a missing snapshot is a broken root, not a bad request
    return errorAnswer(500, "server_error", snapshot.error().message);
  }
  if (!runsOn(*snapshot, request->device.binaryVersion)) {
    SuccessResponseData incompatible;
    incompatible.incompatibleUpdateAvailable = true;  // available and compatible stay false
    return success(incompatible);
  }
  return success({.url = snapshotUrl(filesUrl, appId, snapshot->id, request->manifest),
                  .available = true,
                  .snapshot = snapshot->id,
                  .partial = false,
                  .build = snapshot->build,
                  .compatible = true,
                  .incompatibleUpdateAvailable = false});
}

}  // namespace qelvo::deploy
