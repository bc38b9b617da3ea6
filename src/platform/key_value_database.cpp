#include "platform/key_value_database.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <system_error>
#include <thread>

#include "base/try.h"

namespace qelvo {
namespace {

// Long enough to outlast another process's commit (an fsync or two), short enough that
// a wedged peer shows up as an error rather than a hang.
constexpr int kBusyTimeoutMilliseconds = 10'000;

constexpr const char* kSchema =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=FULL;"
    "CREATE TABLE IF NOT EXISTS entries ("
    "  suite BLOB NOT NULL,"
    "  key BLOB NOT NULL,"
    "  kind INTEGER NOT NULL CHECK (kind IN (0, 1)),"
    "  value BLOB NOT NULL,"
    "  PRIMARY KEY (suite, key)"
    ") WITHOUT ROWID;";

struct Registry {
  std::mutex mutex;
  std::map<std::filesystem::path, std::weak_ptr<KeyValueDatabase>> databases;
};

Registry& registry() {
  static auto* instance = new Registry;  // never destroyed: stores may be used at exit
  return *instance;
}

PlatformError fileSystemError(const std::error_code& ec, const std::string& what) {
  return PlatformError("posix", ec.value(), what + ": " + ec.message());
}

// The file's path with its directory resolved, so that two spellings of one file map
// to one registry entry. Creates the directory when missing.
std::expected<std::filesystem::path, PlatformError> canonicalDatabasePath(
    const std::filesystem::path& path) {
  if (!path.has_filename()) {
    return std::unexpected(fileSystemError(std::make_error_code(std::errc::is_a_directory),
                                           "Not a database file path " + path.string()));
  }
  auto directory = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) return std::unexpected(fileSystemError(ec, "Unable to create " + directory.string()));
  auto canonical = std::filesystem::canonical(directory, ec);
  if (ec) return std::unexpected(fileSystemError(ec, "Unable to resolve " + directory.string()));
  return canonical / path.filename();
}

// Switching a new file to WAL can fail at once with "database is locked" while another
// process is setting the same file up (SQLite does not wait through the busy handler
// there), so the setup is retried for as long as the busy timeout allows.
std::expected<void, PlatformError> configure(sqlite3* db) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMilliseconds);
  auto pause = std::chrono::milliseconds(1);
  while (true) {
    auto configured = sqlite::execute(db, kSchema, "Unable to set up the key-value store");
    if (configured || !sqlite::isBusy(configured.error()) ||
        std::chrono::steady_clock::now() + pause > deadline) {
      return configured;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

std::expected<sqlite::Connection, PlatformError> openConfigured(const std::filesystem::path& path) {
  QELVO_TRY(auto connection, sqlite::openConnection(path));
  sqlite3_busy_timeout(connection.get(), kBusyTimeoutMilliseconds);
  // Every commit is already on disk in the log: a checkpoint when the last connection
  // closes would only copy it into the file again and flush both, at the end of every
  // process, and the next process would create the log anew (another two flushes). The
  // log stays; commits checkpoint it as it grows.
  sqlite3_db_config(connection.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  QELVO_TRY_VOID(configure(connection.get()));
  return connection;
}

}  // namespace

std::expected<std::shared_ptr<KeyValueDatabase>, PlatformError> KeyValueDatabase::open(
    const std::filesystem::path& path) {
  QELVO_TRY(auto canonical, canonicalDatabasePath(path));
  auto& shared = registry();
  std::lock_guard lock(shared.mutex);
  std::erase_if(shared.databases, [](const auto& entry) { return entry.second.expired(); });
  if (auto existing = shared.databases[canonical].lock()) return existing;
  QELVO_TRY(auto connection, openConfigured(canonical));
  auto database = std::make_shared<KeyValueDatabase>(std::move(connection));
  shared.databases[canonical] = database;
  return database;
}

std::expected<std::optional<KeyValueDatabase::Value>, PlatformError> KeyValueDatabase::read(
    std::string_view suite, std::string_view key) {
  std::lock_guard lock(mutex_);
  return readLocked(suite, key);
}

std::expected<void, PlatformError> KeyValueDatabase::write(std::string_view suite,
                                                           std::string_view key, Kind kind,
                                                           std::string_view bytes) {
  std::lock_guard lock(mutex_);
  return writeLocked(suite, key, kind, bytes);
}

std::expected<void, PlatformError> KeyValueDatabase::update(std::string_view suite,
                                                            std::string_view key,
                                                            const Change& change) {
  return update(suite, {std::string(key)}, [&](std::vector<std::optional<Value>>& values) {
    auto changed = change(std::move(values.front()));
    values.front() = std::move(changed);
    return values.front().has_value();
  });
}

std::expected<void, PlatformError> KeyValueDatabase::update(std::string_view suite,
                                                            const std::vector<std::string>& keys,
                                                            const Changes& change) {
  std::lock_guard lock(mutex_);
  QELVO_TRY(auto transaction, sqlite::ImmediateTransaction::begin(connection_.get()));
  std::vector<std::optional<Value>> values;
  values.reserve(keys.size());
  for (const auto& key : keys) {
    QELVO_TRY(auto current, readLocked(suite, key));
    values.push_back(std::move(current));
  }
  if (!change(values)) return {};
  for (std::size_t i = 0; i < keys.size() && i < values.size(); ++i) {
    if (values[i]) QELVO_TRY_VOID(writeLocked(suite, keys[i], values[i]->kind, values[i]->bytes));
  }
  return transaction.commit();
}

std::expected<void, PlatformError> KeyValueDatabase::removeSuite(std::string_view suite) {
  std::lock_guard lock(mutex_);
  QELVO_TRY(auto statement,
            sqlite::Statement::prepare(connection_.get(), "DELETE FROM entries WHERE suite = ?1"));
  QELVO_TRY_VOID(statement.bindBytes(1, suite).step());
  return {};
}

std::expected<std::vector<std::pair<std::string, KeyValueDatabase::Value>>, PlatformError>
KeyValueDatabase::readInEverySuite(std::string_view key) {
  std::lock_guard lock(mutex_);
  QELVO_TRY(auto statement,
            sqlite::Statement::prepare(connection_.get(),
                                       "SELECT suite, kind, value FROM entries WHERE key = ?1"));
  statement.bindBytes(1, key);
  std::vector<std::pair<std::string, Value>> values;
  for (;;) {
    QELVO_TRY(bool found, statement.step());
    if (!found) return values;
    Kind kind = statement.columnInt(1) == static_cast<int>(Kind::text) ? Kind::text : Kind::data;
    values.emplace_back(statement.columnBytes(0), Value{kind, statement.columnBytes(2)});
  }
}

std::expected<std::vector<std::string>, PlatformError> KeyValueDatabase::keys(
    std::string_view suite, std::string_view prefix) {
  std::lock_guard lock(mutex_);
  // A BLOB range rather than LIKE: keys are bytes, and "%" or "_" may be part of them.
  QELVO_TRY(auto statement,
            sqlite::Statement::prepare(
                connection_.get(), "SELECT key FROM entries WHERE suite = ?1 AND key >= ?2 ORDER BY key"));
  statement.bindBytes(1, suite).bindBytes(2, prefix);
  std::vector<std::string> found;
  for (;;) {
    QELVO_TRY(bool row, statement.step());
    if (!row) return found;
    auto key = statement.columnBytes(0);
    if (!key.starts_with(prefix)) return found;
    found.push_back(std::move(key));
  }
}

std::expected<std::optional<KeyValueDatabase::Value>, PlatformError> KeyValueDatabase::readLocked(
    std::string_view suite, std::string_view key) {
  QELVO_TRY(auto statement, sqlite::Statement::prepare(
                                connection_.get(),
                                "SELECT kind, value FROM entries WHERE suite = ?1 AND key = ?2"));
  QELVO_TRY(bool found, statement.bindBytes(1, suite).bindBytes(2, key).step());
  if (!found) return std::nullopt;
  Kind kind = statement.columnInt(0) == static_cast<int>(Kind::text) ? Kind::text : Kind::data;
  return Value{kind, statement.columnBytes(1)};
}

std::expected<void, PlatformError> KeyValueDatabase::writeLocked(std::string_view suite,
                                                                 std::string_view key, Kind kind,
                                                                 std::string_view bytes) {
  QELVO_TRY(auto statement,
            sqlite::Statement::prepare(connection_.get(),
                                       "INSERT OR REPLACE INTO entries (suite, key, kind, value) "
                                       "VALUES (?1, ?2, ?3, ?4)"));
  QELVO_TRY_VOID(statement.bindBytes(1, suite)
                     .bindBytes(2, key)
                     .bindInt(3, static_cast<int>(kind))
                     .bindBytes(4, bytes)
                     .step());
  return {};
}

}  // namespace qelvo
