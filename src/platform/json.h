// Strict decoding of JSON values: a missing required key, a null where a value is
// required, or a value of another type fails with a DecodingError naming the path of
// keys to it ("data.partial", "[2].size"). Optional keys may be absent or null.
#pragma once

#include <cstdint>
#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/try.h"
#include "qelvo/errors.h"

namespace qelvo::json {

// Objects keep their members in the order written, so encoded text follows the
// declared field order and equal values always encode to the same bytes.
using Json = nlohmann::ordered_json;

template <class T>
using Decoded = std::expected<T, DecodingError>;

// Parses JSON text (UTF-8 only).
Decoded<Json> parse(std::string_view text);

std::string memberPath(const std::string& path, std::string_view key);
std::string indexPath(const std::string& path, std::size_t index);

// `value` itself, when it is an object / array.
Decoded<const Json*> asObject(const Json& value, const std::string& path);
Decoded<const Json*> asArray(const Json& value, const std::string& path);

// Scalars: integers must be written as integers (no fraction, no exponent) and fit.
Decoded<std::string> decodeValue(const Json& value, const std::string& path, std::string*);
Decoded<bool> decodeValue(const Json& value, const std::string& path, bool*);
// Any JSON number, with or without a fraction.
Decoded<double> decodeValue(const Json& value, const std::string& path, double*);
Decoded<std::int64_t> decodeValue(const Json& value, const std::string& path, std::int64_t*);
Decoded<std::uint64_t> decodeValue(const Json& value, const std::string& path, std::uint64_t*);
Decoded<std::vector<std::string>> decodeValue(const Json& value, const std::string& path,
                                              std::vector<std::string>*);

// The member `key` of `object`; fails when it is absent.
Decoded<const Json*> requiredMember(const Json& object, std::string_view key,
                                    const std::string& path);
// The member `key` of `object`; none when it is absent or null.
const Json* optionalMember(const Json& object, std::string_view key);

template <class T>
Decoded<T> required(const Json& object, std::string_view key, const std::string& path) {
  QELVO_TRY(const Json* member, requiredMember(object, key, path));
  return decodeValue(*member, memberPath(path, key), static_cast<T*>(nullptr));
}

template <class T>
Decoded<std::optional<T>> optional(const Json& object, std::string_view key,
                                   const std::string& path) {
  const Json* member = optionalMember(object, key);
  if (!member) return std::optional<T>();
  QELVO_TRY(T value, decodeValue(*member, memberPath(path, key), static_cast<T*>(nullptr)));
  return std::optional<T>(std::move(value));
}

// Serialises `value`; EncodingError when a string in it is not valid UTF-8.
std::expected<std::string, EncodingError> dump(const Json& value);

}  // namespace qelvo::json
