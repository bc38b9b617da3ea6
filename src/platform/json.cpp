#include "platform/json.h"

#include <limits>

namespace qelvo::json {
namespace {

DecodingError typeMismatch(const std::string& path, std::string_view expected, const Json& found) {
  return DecodingError(path, "Expected " + std::string(expected) + " value but found " +
                                 found.type_name() + " instead.");
}

}  // namespace

Decoded<Json> parse(std::string_view text) {
  try {
    return Json::parse(text);
  } catch (const Json::exception& error) {
    return std::unexpected(
        DecodingError("", std::string("The given data was not valid JSON. ") + error.what()));
  }
}

std::string memberPath(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string indexPath(const std::string& path, std::size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

Decoded<const Json*> asObject(const Json& value, const std::string& path) {
  if (!value.is_object()) return std::unexpected(typeMismatch(path, "object", value));
  return &value;
}

Decoded<const Json*> asArray(const Json& value, const std::string& path) {
  if (!value.is_array()) return std::unexpected(typeMismatch(path, "array", value));
  return &value;
}

Decoded<std::string> decodeValue(const Json& value, const std::string& path, std::string*) {
  if (!value.is_string()) return std::unexpected(typeMismatch(path, "string", value));
  return value.get<std::string>();
}

Decoded<bool> decodeValue(const Json& value, const std::string& path, bool*) {
  if (!value.is_boolean()) return std::unexpected(typeMismatch(path, "boolean", value));
  return value.get<bool>();
}

Decoded<double> decodeValue(const Json& value, const std::string& path, double*) {
  if (!value.is_number()) return std::unexpected(typeMismatch(path, "number", value));
  return value.get<double>();
}

Decoded<std::int64_t> decodeValue(const Json& value, const std::string& path, std::int64_t*) {
  if (value.is_number_unsigned()) {
    auto number = value.get<std::uint64_t>();
    if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::unexpected(DecodingError(path, "Number " + value.dump() + " does not fit."));
    }
    return static_cast<std::int64_t>(number);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  return std::unexpected(typeMismatch(path, "integer", value));
}

Decoded<std::uint64_t> decodeValue(const Json& value, const std::string& path, std::uint64_t*) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer()) {
    return std::unexpected(DecodingError(path, "Number " + value.dump() + " does not fit."));
  }
  return std::unexpected(typeMismatch(path, "unsigned integer", value));
}

Decoded<std::vector<std::string>> decodeValue(const Json& value, const std::string& path,
                                              std::vector<std::string>*) {
  QELVO_TRY(const Json* array, asArray(value, path));
  std::vector<std::string> strings;
  strings.reserve(array->size());
  for (std::size_t i = 0; i < array->size(); ++i) {
    QELVO_TRY(auto text,
              decodeValue((*array)[i], indexPath(path, i), static_cast<std::string*>(nullptr)));
    strings.push_back(std::move(text));
  }
  return strings;
}

Decoded<const Json*> requiredMember(const Json& object, std::string_view key,
                                    const std::string& path) {
  auto found = object.find(key);
  if (found == object.end()) {
    return std::unexpected(DecodingError(
        memberPath(path, key), "No value associated with key \"" + std::string(key) + "\"."));
  }
  return &*found;
}

const Json* optionalMember(const Json& object, std::string_view key) {
  auto found = object.find(key);
  if (found == object.end() || found->is_null()) return nullptr;
  return &*found;
}

std::expected<std::string, EncodingError> dump(const Json& value) {
  try {
    return value.dump();
  } catch (const Json::exception& error) {
    return std::unexpected(EncodingError(error.what()));
  }
}

}  // namespace qelvo::json
