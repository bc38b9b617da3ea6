// Wire types of the check-device exchange and the device description.
//
// Request:  POST {base}/{appId}/channels/check-device
//   {"device": {...}, "manifest": bool, "app_id": .., "channel_name": ..,
//    "plugin_version": "6.0.0", "is_zarrows": bool}
// Success:  {"data": {"url"?, "available", "snapshot"?, "partial", "build"?,
//                     "compatible", "incompatibleUpdateAvailable"}}
// Refusal:  {"error": {"link"?, "message", "type", "details"?, "event_id"}}
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "qelvo/errors.h"

namespace qelvo {

struct Device {
  std::string platform;
  std::string platformVersion;
  std::string binaryVersion;
  std::string deviceId;
  std::optional<std::string> snapshot;
  std::optional<std::string> build;

  // The device as this process describes it: platform "ios", the OS version, the
  // host's short version string, and the given device identifier (the manager's
  // store keeps it). Throws ConfigurationError without a short version string.
  static Device describe(std::string deviceId);

  friend bool operator==(const Device&, const Device&) = default;
};

inline constexpr std::string_view kPluginVersion = "6.0.0";

struct CheckRequest {
  Device device;
  bool manifest = false;
  std::string appId;
  std::string channelName;
  std::string pluginVersion{kPluginVersion};
  bool isZarrows = false;

  CheckRequest(Device device, bool manifest, std::string appId, std::string channelName);

  // All six keys; the device without "snapshot" / "build" when they are absent.
  // EncodingError when a string is not valid UTF-8.
  std::expected<std::string, EncodingError> toJson() const;
  // Requires "device", "manifest", "app_id", "channel_name"; the plugin version and
  // the embedding flag are always recomputed.
  static std::expected<CheckRequest, DecodingError> fromJson(std::string_view json);
};

// Whether one of the known web-view embedding components is loaded in this process.
bool detectZarrowsEmbedding();

struct SuccessResponseData {
  std::optional<std::string> url;
  bool available = false;
  std::optional<std::string> snapshot;
  bool partial = false;
  std::optional<std::int64_t> build;
  bool compatible = false;
  bool incompatibleUpdateAvailable = false;

  friend bool operator==(const SuccessResponseData&, const SuccessResponseData&) = default;
};

struct SuccessResponse {
  using Data = SuccessResponseData;
  Data data;

  // EncodingError when a string is not valid UTF-8.
  std::expected<std::string, EncodingError> toJson() const;
  static std::expected<SuccessResponse, DecodingError> fromJson(std::string_view json);
};

// EncodingError when a string is not valid UTF-8.
std::expected<std::string, EncodingError> encodeBraxoErrorResponse(
    const BraxoErrorResponse& response);
std::expected<BraxoErrorResponse, DecodingError> decodeBraxoErrorResponse(std::string_view json);

}  // namespace qelvo
