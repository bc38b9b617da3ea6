#include "store/records_json.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/try.h"
#include "platform/json.h"

namespace qelvo {
namespace {

using json::Json;
using std::chrono::seconds;

// 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
constexpr std::int64_t kReferenceUnixSeconds = 978'307'200;

// Elements of a set in order of id, so one record always encodes to the same bytes.
template <class T>
std::vector<const T*> sortedById(const std::unordered_set<T, IdHash>& set) {
  std::vector<const T*> sorted;
  sorted.reserve(set.size());
  for (const auto& element : set) sorted.push_back(&element);
  std::ranges::sort(sorted, {}, [](const T* element) { return element->id; });
  return sorted;
}

Json snapshotJson(const Snapshot& snapshot) {
  return {{"id", snapshot.id},
          {"build_id", snapshot.buildId},
          {"binary_version", snapshot.binaryVersion},
          {"last_used", referenceSeconds(snapshot.lastUsed)}};
}

Json channelJson(const Channel& channel) {
  Json json = {{"id", channel.id}};
  if (channel.currentSnapshot) json["current_snapshot"] = snapshotJson(*channel.currentSnapshot);
  return json;
}

Json appJson(const QelWebApp& app) {
  Json channels = Json::array();
  for (const auto* channel : sortedById(app.channels)) channels.push_back(channelJson(*channel));
  Json snapshots = Json::array();
  for (const auto* snapshot : sortedById(app.snapshots)) {
    snapshots.push_back(snapshotJson(*snapshot));
  }
  Json json = {
      {"id", app.id}, {"channels", std::move(channels)}, {"snapshots", std::move(snapshots)}};
  if (app.lastSync) json["last_sync"] = referenceSeconds(*app.lastSync);
  return json;
}

std::expected<Snapshot, DecodingError> decodeSnapshot(const Json& value, const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  QELVO_TRY(auto id, json::required<std::string>(*object, "id", path));
  QELVO_TRY(auto buildId, json::required<std::string>(*object, "build_id", path));
  QELVO_TRY(auto binaryVersion, json::required<std::string>(*object, "binary_version", path));
  QELVO_TRY(auto lastUsed, decodeDate(*object, "last_used", path));
  return Snapshot{std::move(id), std::move(buildId), std::move(binaryVersion), lastUsed};
}

std::expected<Channel, DecodingError> decodeChannel(const Json& value, const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  QELVO_TRY(auto id, json::required<std::string>(*object, "id", path));
  Channel channel{std::move(id), std::nullopt};
  if (const Json* current = json::optionalMember(*object, "current_snapshot")) {
    QELVO_TRY(channel.currentSnapshot,
              decodeSnapshot(*current, json::memberPath(path, "current_snapshot")));
  }
  return channel;
}

// Decodes every element of the array under `key` into a set; the first element of
// an id wins, as a set holds one element per id.
template <class T, class DecodeElement>
std::expected<std::unordered_set<T, IdHash>, DecodingError> decodeSet(const Json& object,
                                                                      std::string_view key,
                                                                      DecodeElement decodeElement) {
  const auto path = json::memberPath("", key);
  QELVO_TRY(const Json* member, json::requiredMember(object, key, ""));
  QELVO_TRY(const Json* array, json::asArray(*member, path));
  std::unordered_set<T, IdHash> set;
  for (std::size_t index = 0; index < array->size(); ++index) {
    QELVO_TRY(T element, decodeElement((*array)[index], json::indexPath(path, index)));
    set.insert(std::move(element));
  }
  return set;
}

}  // namespace

double referenceSeconds(Date date) {
  // Whole seconds and the fraction apart, so the double keeps all the precision it can.
  auto sinceEpoch = date.time_since_epoch();
  auto whole = std::chrono::floor<seconds>(sinceEpoch);
  auto fraction = std::chrono::duration<double>(sinceEpoch - whole).count();
  return static_cast<double>(whole.count() - kReferenceUnixSeconds) + fraction;
}

std::optional<Date> dateFromReferenceSeconds(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  double whole = std::floor(value);
  double unixSeconds = whole + static_cast<double>(kReferenceUnixSeconds);
  constexpr auto limit = std::chrono::duration_cast<seconds>(Date::duration::max()).count() - 1;
  if (unixSeconds < -static_cast<double>(limit) || unixSeconds > static_cast<double>(limit)) {
    return std::nullopt;
  }
  auto micros = std::llround((value - whole) * 1e6);  // 0 ... 1'000'000
  return Date(seconds(static_cast<std::int64_t>(unixSeconds))) + std::chrono::microseconds(micros);
}

std::expected<Date, DecodingError> decodeDate(const json::Json& object, std::string_view key,
                                              const std::string& path) {
  QELVO_TRY(double value, json::required<double>(object, key, path));
  auto date = dateFromReferenceSeconds(value);
  if (!date) {
    return std::unexpected(DecodingError(json::memberPath(path, key),
                                         "Date out of range: " + std::to_string(value) + "."));
  }
  return *date;
}

std::expected<std::string, EncodingError> encodeApp(const QelWebApp& app) {
  return json::dump(appJson(app));
}

std::expected<QelWebApp, DecodingError> decodeApp(std::string_view text) {
  QELVO_TRY(auto document, json::parse(text));
  QELVO_TRY(const Json* object, json::asObject(document, ""));
  QELVO_TRY(auto id, json::required<std::string>(*object, "id", ""));
  QELVO_TRY(auto channels, decodeSet<Channel>(*object, "channels", decodeChannel));
  QELVO_TRY(auto snapshots, decodeSet<Snapshot>(*object, "snapshots", decodeSnapshot));
  QelWebApp app{std::move(id), std::move(channels), std::move(snapshots), std::nullopt};
  if (json::optionalMember(*object, "last_sync")) {
    QELVO_TRY(app.lastSync, decodeDate(*object, "last_sync", ""));
  }
  return app;
}

}  // namespace qelvo
