#include "platform/key_value_store.h"

#include "base/try.h"
#include "platform/key_value_database.h"

namespace qelvo {
namespace {

using Kind = KeyValueDatabase::Kind;

std::expected<std::optional<std::string>, PlatformError> readKind(KeyValueDatabase& database,
                                                                  const std::string& suite,
                                                                  const std::string& key,
                                                                  Kind kind) {
  QELVO_TRY(auto value, database.read(suite, key));
  if (!value || value->kind != kind) return std::nullopt;
  return std::move(value->bytes);
}

}  // namespace

std::expected<std::shared_ptr<KeyValueSuite>, PlatformError> KeyValueSuite::open(
    const std::filesystem::path& databasePath, std::string suiteName) {
  QELVO_TRY(auto database, KeyValueDatabase::open(databasePath));
  return std::make_shared<KeyValueSuite>(std::move(database), std::move(suiteName));
}

std::expected<std::optional<std::string>, PlatformError> KeyValueSuite::data(
    const std::string& key) const {
  return readKind(*database_, suiteName_, key, Kind::data);
}

std::expected<std::optional<std::string>, PlatformError> KeyValueSuite::string(
    const std::string& key) const {
  return readKind(*database_, suiteName_, key, Kind::text);
}

std::expected<void, PlatformError> KeyValueSuite::setData(const std::string& key,
                                                          std::string_view bytes) {
  return database_->write(suiteName_, key, Kind::data, bytes);
}

std::expected<void, PlatformError> KeyValueSuite::setString(const std::string& key,
                                                            std::string_view value) {
  return database_->write(suiteName_, key, Kind::text, value);
}

std::expected<std::string, PlatformError> KeyValueSuite::stringOrInsert(
    const std::string& key, const std::function<std::string()>& make) {
  std::string text;
  QELVO_TRY_VOID(database_->update(
      suiteName_, key,
      [&](std::optional<KeyValueDatabase::Value> current) -> std::optional<KeyValueDatabase::Value> {
        if (current && current->kind == Kind::text) {
          text = std::move(current->bytes);
          return std::nullopt;
        }
        text = make();
        return KeyValueDatabase::Value{Kind::text, text};
      }));
  return text;
}

std::expected<void, PlatformError> KeyValueSuite::updateData(const std::string& key,
                                                             const DataChange& change) {
  return database_->update(
      suiteName_, key,
      [&](std::optional<KeyValueDatabase::Value> current) -> std::optional<KeyValueDatabase::Value> {
        std::optional<std::string> data;
        if (current && current->kind == Kind::data) data = std::move(current->bytes);
        auto changed = change(std::move(data));
        if (!changed) return std::nullopt;
        return KeyValueDatabase::Value{Kind::data, std::move(*changed)};
      });
}

std::expected<std::vector<std::string>, PlatformError> KeyValueSuite::dataInOtherSuites(
    const std::string& key) const {
  QELVO_TRY(auto values, database_->readInEverySuite(key));
  std::vector<std::string> data;
  for (auto& [suite, value] : values) {
    if (suite != suiteName_ && value.kind == Kind::data) data.push_back(std::move(value.bytes));
  }
  return data;
}

std::expected<std::vector<std::string>, PlatformError> KeyValueSuite::keys(
    const std::string& prefix) const {
  return database_->keys(suiteName_, prefix);
}

std::expected<void, PlatformError> KeyValueSuite::updateData(const std::vector<std::string>& keys,
                                                             const DataChanges& change) {
  using Values = std::vector<std::optional<KeyValueDatabase::Value>>;
  return database_->update(suiteName_, keys, [&](Values& values) {
    std::vector<std::optional<std::string>> data;
    data.reserve(values.size());
    for (auto& value : values) {
      if (value && value->kind == Kind::data) {
        data.push_back(std::move(value->bytes));
      } else {
        data.push_back(std::nullopt);
      }
    }
    if (!change(data)) return false;
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i].reset();
      if (i < data.size() && data[i]) {
        values[i] = KeyValueDatabase::Value{Kind::data, std::move(*data[i])};
      }
    }
    return true;
  });
}

std::expected<void, PlatformError> KeyValueSuite::removePersistentDomain(
    const std::string& suiteName) {
  return database_->removeSuite(suiteName);
}

}  // namespace qelvo
