#include "qelvo/manifest.h"

#include <functional>

#include "base/base64.h"
#include "platform/json.h"

namespace qelvo {
namespace {

using json::Decoded;
using json::Json;

Decoded<ManifestPatch> decodePatch(const Json& value, const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  ManifestPatch patch;
  QELVO_TRY(patch.base, json::required<std::string>(*object, "base", path));
  QELVO_TRY(patch.href, json::required<std::string>(*object, "href", path));
  QELVO_TRY(patch.size, json::required<std::uint64_t>(*object, "size", path));
  QELVO_TRY(patch.algorithm, json::required<std::string>(*object, "algorithm", path));
  return patch;
}

Decoded<ManifestItem> decodeItem(const Json& value, const std::string& path) {
  QELVO_TRY(const Json* object, json::asObject(value, path));
  ManifestItem item;
  QELVO_TRY(item.href, json::required<std::string>(*object, "href", path));
  QELVO_TRY(item.size, json::required<std::uint64_t>(*object, "size", path));
  QELVO_TRY(item.integrity, json::required<std::string>(*object, "integrity", path));
  if (const Json* patches = json::optionalMember(*object, "patches")) {
    const auto patchesPath = json::memberPath(path, "patches");
    QELVO_TRY(const Json* array, json::asArray(*patches, patchesPath));
    for (std::size_t i = 0; i < array->size(); ++i) {
      QELVO_TRY(auto patch, decodePatch((*array)[i], json::indexPath(patchesPath, i)));
      item.patches.push_back(std::move(patch));
    }
  }
  return item;
}

// The items of a decoded payload: a JSON array of items, duplicates collapsed. The text
// goes as soon as it is parsed: a bundle of ten thousand files holds megabytes in each
// form, and only one of them at a time.
Decoded<decltype(Manifest::payload)> decodeItems(std::string bytes) {
  QELVO_TRY(Json document, json::parse(bytes));
  std::string().swap(bytes);
  QELVO_TRY(const Json* array, json::asArray(document, ""));
  decltype(Manifest::payload) items;
  items.reserve(array->size());
  for (std::size_t i = 0; i < array->size(); ++i) {
    QELVO_TRY(auto item, decodeItem((*array)[i], json::indexPath("", i)));
    items.insert(std::move(item));
  }
  return items;
}

}  // namespace

std::size_t ManifestItemHash::operator()(const ManifestItem& item) const noexcept {
  std::size_t seed = std::hash<std::string>()(item.href);
  auto combine = [&seed](std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  };
  combine(std::hash<std::uint64_t>()(item.size));
  combine(std::hash<std::string>()(item.integrity));
  return seed;
}

std::expected<Manifest, DecodingError> Manifest::decode(std::string_view text) {
  std::string payloadText;
  {  // the document (a copy of the payload) goes before the payload is decoded
    QELVO_TRY(Json document, json::parse(text));
    QELVO_TRY(const Json* object, json::asObject(document, ""));
    QELVO_TRY(payloadText, json::required<std::string>(*object, "payload", ""));
  }
  return fromPayload(std::move(payloadText));
}

std::expected<Manifest, DecodingError> Manifest::fromPayload(std::string payloadText) {
  auto bytes = base64Decode(payloadText);
  if (!bytes) {
    return std::unexpected(DecodingError("payload", "'payload' was not a base64 encoded string"));
  }
  QELVO_TRY(auto items, decodeItems(std::move(*bytes)));
  return Manifest{std::move(items), std::move(payloadText)};
}

Manifest Manifest::fromItems(const std::vector<ManifestItem>& items) {
  Json array = Json::array();
  for (const auto& item : items) {
    Json object = {{"href", item.href}, {"size", item.size}, {"integrity", item.integrity}};
    for (const auto& patch : item.patches) {
      object["patches"].push_back({{"base", patch.base},
                                   {"href", patch.href},
                                   {"size", patch.size},
                                   {"algorithm", patch.algorithm}});
    }
    array.push_back(std::move(object));
  }
  auto text = json::dump(array);
  if (!text) throw text.error();
  return Manifest{{items.begin(), items.end()}, base64Encode(*text)};
}

std::string Manifest::encode() const {
  auto text = json::dump({{"payload", _payload}});
  if (!text) throw text.error();
  return *text;
}

}  // namespace qelvo
