// KeyValueSuite: a persistent key-value store in named suites, standing in for the
// platform's user-defaults store. Backed by one SQLite database (WAL mode) per
// container; a suite name is data in that database, never a path, so any text is a
// valid suite name. Safe from many threads and from several processes at once; a
// crash in the middle of a write leaves the old value or the new one.
//
//   auto suite = KeyValueSuite::open(dbPath, "com.example-LiveUpdates");
//   (*suite)->setString("k", "v");
//   (*suite)->string("k");  // "v"
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qelvo/errors.h"

namespace qelvo {

class KeyValueDatabase;

class KeyValueSuite {
 public:
  // Opens suite `suiteName` of the database file at `databasePath` (created with its
  // directory when missing). Suites of one database file share one connection.
  [[nodiscard]] static std::expected<std::shared_ptr<KeyValueSuite>, PlatformError> open(
      const std::filesystem::path& databasePath, std::string suiteName);

  const std::string& suiteName() const { return suiteName_; }

  // Binary data stored under `key` (only values stored as data); none when absent.
  // An error only when the database cannot be read.
  [[nodiscard]] std::expected<std::optional<std::string>, PlatformError> data(
      const std::string& key) const;
  // Text stored under `key` (only values stored as text); none when absent.
  [[nodiscard]] std::expected<std::optional<std::string>, PlatformError> string(
      const std::string& key) const;

  [[nodiscard]] std::expected<void, PlatformError> setData(const std::string& key,
                                                           std::string_view bytes);
  [[nodiscard]] std::expected<void, PlatformError> setString(const std::string& key,
                                                             std::string_view value);

  // The text under `key`; when there is none, stores `make()` and returns it, in one
  // transaction, so racing first reads (threads or processes) agree on one value.
  [[nodiscard]] std::expected<std::string, PlatformError> stringOrInsert(
      const std::string& key, const std::function<std::string()>& make);

  // Hands the data under `key` (none when absent or stored as text) to `change` and
  // stores what it returns, if anything, in one transaction: writers in other threads
  // and processes never overwrite each other's changes. `change` runs with the store
  // locked: it must be quick and must not use the store.
  using DataChange = std::function<std::optional<std::string>(std::optional<std::string> current)>;
  [[nodiscard]] std::expected<void, PlatformError> updateData(const std::string& key,
                                                              const DataChange& change);

  // The data stored under `key` by the other suites of this suite's database (values
  // stored as text left out). Inside the change of `updateData` it reads within that
  // change's transaction.
  [[nodiscard]] std::expected<std::vector<std::string>, PlatformError> dataInOtherSuites(
      const std::string& key) const;
  // The keys of this suite that begin with `prefix`, in byte order.
  [[nodiscard]] std::expected<std::vector<std::string>, PlatformError> keys(
      const std::string& prefix) const;
  // As above, over several keys in one transaction: `change` sees the data under each of
  // `keys` (in that order; none when absent or stored as text) and may change them in
  // place; when it returns true, every value it left present is stored as data. An
  // absent value is left as it is, never removed.
  using DataChanges = std::function<bool(std::vector<std::optional<std::string>>& values)>;
  [[nodiscard]] std::expected<void, PlatformError> updateData(const std::vector<std::string>& keys,
                                                              const DataChanges& change);

  // Removes every key of the suite named `suiteName` in this suite's database.
  [[nodiscard]] std::expected<void, PlatformError> removePersistentDomain(
      const std::string& suiteName);

  KeyValueSuite(std::shared_ptr<KeyValueDatabase> database, std::string suiteName)
      : database_(std::move(database)), suiteName_(std::move(suiteName)) {}

 private:
  std::shared_ptr<KeyValueDatabase> database_;
  std::string suiteName_;
};

}  // namespace qelvo
