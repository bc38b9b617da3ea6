// KeyValueDatabase: the one SQLite connection of this process to a key-value database
// file, shared by every suite opened on that file. All suites live in one table keyed
// by (suite, key); each value remembers whether it was stored as data or as text.
//
// The connection runs in WAL mode with a busy timeout, so other processes may use the
// same file at the same time, and with synchronous=FULL, so a committed write survives
// a crash or power loss. Every write is one transaction: a crash leaves the old value
// or the new one. Calls from many threads are serialised on the connection's mutex.
//
// A connection is not carried across fork(): a child process must not use stores it
// inherited from its parent (SQLite's own rule); stores it opens itself are fine.
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sqlite.h"
#include "qelvo/errors.h"

namespace qelvo {

class KeyValueDatabase {
 public:
  enum class Kind { data = 0, text = 1 };

  struct Value {
    Kind kind;
    std::string bytes;
  };

  // The process's connection to the database file at `path`, opened (and the file and
  // its directory created) when no suite of this process holds it yet. Two spellings
  // of one file share one connection.
  [[nodiscard]] static std::expected<std::shared_ptr<KeyValueDatabase>, PlatformError> open(
      const std::filesystem::path& path);

  [[nodiscard]] std::expected<std::optional<Value>, PlatformError> read(std::string_view suite,
                                                                        std::string_view key);
  [[nodiscard]] std::expected<void, PlatformError> write(std::string_view suite,
                                                         std::string_view key, Kind kind,
                                                         std::string_view bytes);
  // Reads the value under `key` (none when absent), hands it to `change`, and stores
  // what `change` returns (nothing when it returns none), in one write transaction taken
  // before the read: racing callers in any process each see the others' writes, so no
  // change is lost. `change` runs with the database locked: it must be quick, and it may
  // read (on this thread, inside the same transaction) but not write.
  using Change = std::function<std::optional<Value>(std::optional<Value> current)>;
  [[nodiscard]] std::expected<void, PlatformError> update(std::string_view suite,
                                                          std::string_view key,
                                                          const Change& change);
  // As `update`, over several keys of one suite in one transaction: `change` sees the
  // values under `keys` (in that order, none when absent) and may change them in place;
  // when it returns true, every value it left present is stored (an absent one is left
  // as it is in the database, never removed).
  using Changes = std::function<bool(std::vector<std::optional<Value>>& values)>;
  [[nodiscard]] std::expected<void, PlatformError> update(std::string_view suite,
                                                          const std::vector<std::string>& keys,
                                                          const Changes& change);
  [[nodiscard]] std::expected<void, PlatformError> removeSuite(std::string_view suite);

  // The values stored under `key` in every suite, with their suite names.
  [[nodiscard]] std::expected<std::vector<std::pair<std::string, Value>>, PlatformError>
  readInEverySuite(std::string_view key);
  // The keys of `suite` that begin with `prefix`, in byte order.
  [[nodiscard]] std::expected<std::vector<std::string>, PlatformError> keys(
      std::string_view suite, std::string_view prefix);

  explicit KeyValueDatabase(sqlite::Connection connection) : connection_(std::move(connection)) {}

 private:
  [[nodiscard]] std::expected<std::optional<Value>, PlatformError> readLocked(
      std::string_view suite, std::string_view key);
  [[nodiscard]] std::expected<void, PlatformError> writeLocked(std::string_view suite,
                                                               std::string_view key, Kind kind,
                                                               std::string_view bytes);

  // Recursive, so that the change of an update may read through this connection.
  std::recursive_mutex mutex_;
  sqlite::Connection connection_;
};

}  // namespace qelvo
