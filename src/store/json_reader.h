// Strict JSON decoding with the path to each failure: the stored records and the
// public LiveUpdate form read their fields through JsonObjectReader, so every decode
// fails the same way on a missing key or a wrong type, naming where it happened
// ("channels[1].current_snapshot.last_used").
#pragma once

#include <expected>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "qelvo/errors.h"

namespace qelvo {

// Objects keep their keys in the order written, so encoded text follows the declared
// field order.
using Json = nlohmann::ordered_json;

[[nodiscard]] std::expected<Json, DecodingError> parseJson(std::string_view text);

// Compact JSON text. Fails on strings that are not valid UTF-8.
[[nodiscard]] std::expected<std::string, EncodingError> dumpJson(const Json& value);

// The path of an element inside an array at `path`: "snapshots[2]".
std::string elementPath(const std::string& path, std::size_t index);

class JsonObjectReader {
 public:
  // Fails unless `value` is an object.
  [[nodiscard]] static std::expected<JsonObjectReader, DecodingError> of(const Json& value,
                                                                         std::string path);

  [[nodiscard]] std::expected<std::string, DecodingError> string(std::string_view key) const;
  [[nodiscard]] std::expected<bool, DecodingError> boolean(std::string_view key) const;
  [[nodiscard]] std::expected<double, DecodingError> number(std::string_view key) const;
  [[nodiscard]] std::expected<const Json*, DecodingError> array(std::string_view key) const;
  [[nodiscard]] std::expected<const Json*, DecodingError> required(std::string_view key) const;
  // The member under `key`; null when it is absent or JSON null.
  const Json* optional(std::string_view key) const;

  std::string pathOf(std::string_view key) const;

 private:
  JsonObjectReader(const Json& object, std::string path)
      : object_(&object), path_(std::move(path)) {}

  const Json* object_;
  std::string path_;
};

// A value of `value`'s JSON type where `expected` was wanted, at `path`.
DecodingError typeMismatch(const std::string& path, std::string_view expected, const Json& value);

}  // namespace qelvo
