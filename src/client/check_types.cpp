#include "client/check_types.h"

#include "platform/json.h"

namespace qelvo {
namespace {

using json::Decoded;
using json::Json;

Json deviceJson(const Device& device) {
  Json object = {{"platform", device.platform},
                 {"platform_version", device.platformVersion},
                 {"binary_version", device.binaryVersion},
                 {"device_id", device.deviceId}};
  if (device.snapshot) object["snapshot"] = *device.snapshot;
  if (device.build) object["build"] = *device.build;
  return object;
}

Decoded<Device> decodeDevice(const Json& value, const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  Device device;
  QELVO_TRY(device.platform, json::required<std::string>(*object, "platform", path));
  QELVO_TRY(device.platformVersion, json::required<std::string>(*object, "platform_version", path));
  QELVO_TRY(device.binaryVersion, json::required<std::string>(*object, "binary_version", path));
  QELVO_TRY(device.deviceId, json::required<std::string>(*object, "device_id", path));
  QELVO_TRY(device.snapshot, json::optional<std::string>(*object, "snapshot", path));
  QELVO_TRY(device.build, json::optional<std::string>(*object, "build", path));
  return device;
}

Decoded<SuccessResponseData> decodeSuccessData(const Json& value, const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  SuccessResponseData data;
  QELVO_TRY(data.url, json::optional<std::string>(*object, "url", path));
  QELVO_TRY(data.available, json::required<bool>(*object, "available", path));
  QELVO_TRY(data.snapshot, json::optional<std::string>(*object, "snapshot", path));
  QELVO_TRY(data.partial, json::required<bool>(*object, "partial", path));
  QELVO_TRY(data.build, json::optional<std::int64_t>(*object, "build", path));
  QELVO_TRY(data.compatible, json::required<bool>(*object, "compatible", path));
  QELVO_TRY(data.incompatibleUpdateAvailable,
            json::required<bool>(*object, "incompatibleUpdateAvailable", path));
  return data;
}

using LiveUpdateError = BraxoErrorResponse::LiveUpdateError;

Decoded<LiveUpdateError::Details> decodeDetails(const Json& value, const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  LiveUpdateError::Details details;
  QELVO_TRY(details.parameter, json::required<std::string>(*object, "parameter", path));
  QELVO_TRY(details.errors, json::required<std::vector<std::string>>(*object, "errors", path));
  QELVO_TRY(details.errorType, json::required<std::string>(*object, "error_type", path));
  return details;
}

Decoded<std::optional<std::vector<LiveUpdateError::Details>>> decodeDetailsList(
    const Json& object, const std::string& path) {
  const Json* member = json::optionalMember(object, "details");
  if (!member) return std::nullopt;
  std::string listPath = json::memberPath(path, "details");
  QELVO_TRY(const Json* array, json::asArray(*member, listPath));
  std::vector<LiveUpdateError::Details> list;
  for (std::size_t i = 0; i < array->size(); ++i) {
    QELVO_TRY(auto details, decodeDetails((*array)[i], json::indexPath(listPath, i)));
    list.push_back(std::move(details));
  }
  return list;
}

Decoded<LiveUpdateError> decodeLiveUpdateError(const Json& value, const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  LiveUpdateError error;
  QELVO_TRY(error.link, json::optional<std::string>(*object, "link", path));
  QELVO_TRY(error.message, json::required<std::string>(*object, "message", path));
  QELVO_TRY(error.type, json::required<std::string>(*object, "type", path));
  QELVO_TRY(error.details, decodeDetailsList(*object, path));
  QELVO_TRY(error.eventId, json::required<std::string>(*object, "event_id", path));
  return error;
}

// The one member `key` of a top-level object, decoded by `decode`.
template <class Decode>
auto decodeEnvelope(std::string_view text, std::string_view key, Decode decode)
    -> decltype(decode(Json(), std::string())) {
  QELVO_TRY(Json document, json::parse(text));
  QELVO_TRY(const Json* object, json::asObject(document, ""));
  QELVO_TRY(const Json* member, json::requiredMember(*object, key, ""));
  return decode(*member, std::string(key));
}

}  // namespace

CheckRequest::CheckRequest(Device device, bool manifest, std::string appId, std::string channelName)
    : device(std::move(device)),
      manifest(manifest),
      appId(std::move(appId)),
      channelName(std::move(channelName)),
      isZarrows(detectZarrowsEmbedding()) {}

std::expected<std::string, EncodingError> CheckRequest::toJson() const {
  return json::dump({{"device", deviceJson(device)},
                     {"manifest", manifest},
                     {"app_id", appId},
                     {"channel_name", channelName},
                     {"plugin_version", pluginVersion},
                     {"is_zarrows", isZarrows}});
}

std::expected<CheckRequest, DecodingError> CheckRequest::fromJson(std::string_view text) {
  QELVO_TRY(Json document, json::parse(text));
  QELVO_TRY(const Json* object, json::asObject(document, ""));
  QELVO_TRY(const Json* deviceMember, json::requiredMember(*object, "device", ""));
  QELVO_TRY(Device device, decodeDevice(*deviceMember, "device"));
  QELVO_TRY(bool manifest, json::required<bool>(*object, "manifest", ""));
  QELVO_TRY(auto appId, json::required<std::string>(*object, "app_id", ""));
  QELVO_TRY(auto channelName, json::required<std::string>(*object, "channel_name", ""));
  return CheckRequest(std::move(device), manifest, std::move(appId), std::move(channelName));
}

std::expected<std::string, EncodingError> SuccessResponse::toJson() const {
  Json object = {{"available", data.available},
                 {"partial", data.partial},
                 {"compatible", data.compatible},
                 {"incompatibleUpdateAvailable", data.incompatibleUpdateAvailable}};
  if (data.url) object["url"] = *data.url;
  if (data.snapshot) object["snapshot"] = *data.snapshot;
  if (data.build) object["build"] = *data.build;
  return json::dump({{"data", object}});
}

std::expected<SuccessResponse, DecodingError> SuccessResponse::fromJson(std::string_view text) {
  QELVO_TRY(auto data, decodeEnvelope(text, "data", decodeSuccessData));
  return SuccessResponse{std::move(data)};
}

std::expected<std::string, EncodingError> encodeBraxoErrorResponse(
    const BraxoErrorResponse& response) {
  const auto& error = response.error;
  Json object = {{"message", error.message}, {"type", error.type}, {"event_id", error.eventId}};
  if (error.link) object["link"] = *error.link;
  if (error.details) {
    Json list = Json::array();
    for (const auto& details : *error.details) {
      list.push_back({{"parameter", details.parameter},
                      {"errors", details.errors},
                      {"error_type", details.errorType}});
    }
    object["details"] = std::move(list);
  }
  return json::dump({{"error", object}});
}

std::expected<BraxoErrorResponse, DecodingError> decodeBraxoErrorResponse(std::string_view text) {
  QELVO_TRY(auto error, decodeEnvelope(text, "error", decodeLiveUpdateError));
  return BraxoErrorResponse{std::move(error)};
}

}  // namespace qelvo
