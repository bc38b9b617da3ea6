#include "store/json_reader.h"

#include "core/try.h"

namespace qelvo {

std::expected<Json, DecodingError> parseJson(std::string_view text) {
  try {
    return Json::parse(text);
  } catch (const Json::parse_error& e) {
    return std::unexpected(
        DecodingError("", std::string("The given data was not valid JSON. ") + e.what()));
  }
}

std::expected<std::string, EncodingError> dumpJson(const Json& value) {
  try {
    return value.dump();
  } catch (const Json::type_error& e) {
    return std::unexpected(EncodingError(e.what()));
  }
}

std::string elementPath(const std::string& path, std::size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

DecodingError typeMismatch(const std::string& path, std::string_view expected, const Json& value) {
  return DecodingError(path, "Expected to decode " + std::string(expected) + " but found " +
                                 value.type_name() + " instead.");
}

std::expected<JsonObjectReader, DecodingError> JsonObjectReader::of(const Json& value,
                                                                    std::string path) {
  if (!value.is_object()) return std::unexpected(typeMismatch(path, "object", value));
  return JsonObjectReader(value, std::move(path));
}

std::string JsonObjectReader::pathOf(std::string_view key) const {
  return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
}

const Json* JsonObjectReader::optional(std::string_view key) const {
  auto member = object_->find(key);
  if (member == object_->end() || member->is_null()) return nullptr;
  return &*member;
}

std::expected<const Json*, DecodingError> JsonObjectReader::required(std::string_view key) const {
  auto member = object_->find(key);
  if (member == object_->end()) {
    return std::unexpected(
        DecodingError(pathOf(key), "No value associated with key \"" + std::string(key) + "\"."));
  }
  return &*member;
}

std::expected<std::string, DecodingError> JsonObjectReader::string(std::string_view key) const {
  QELVO_TRY(const Json* member, required(key));
  if (!member->is_string()) return std::unexpected(typeMismatch(pathOf(key), "string", *member));
  return member->get<std::string>();
}

std::expected<bool, DecodingError> JsonObjectReader::boolean(std::string_view key) const {
  QELVO_TRY(const Json* member, required(key));
  if (!member->is_boolean()) return std::unexpected(typeMismatch(pathOf(key), "boolean", *member));
  return member->get<bool>();
}

std::expected<double, DecodingError> JsonObjectReader::number(std::string_view key) const {
  QELVO_TRY(const Json* member, required(key));
  if (!member->is_number()) return std::unexpected(typeMismatch(pathOf(key), "number", *member));
  return member->get<double>();
}

std::expected<const Json*, DecodingError> JsonObjectReader::array(std::string_view key) const {
  QELVO_TRY(const Json* member, required(key));
  if (!member->is_array()) return std::unexpected(typeMismatch(pathOf(key), "array", *member));
  return member;
}

}  // namespace qelvo
