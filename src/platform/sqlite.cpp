#include "platform/sqlite.h"

namespace qelvo::sqlite {

PlatformError lastError(sqlite3* db, const std::string& what) {
  int code = db ? sqlite3_extended_errcode(db) : SQLITE_NOMEM;
  const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(SQLITE_NOMEM);
  return PlatformError("sqlite", code, what + ": " + message);
}

std::expected<Connection, PlatformError> openConnection(const std::filesystem::path& path) {
  sqlite3* raw = nullptr;
  // The caller holds its own lock around every use, so SQLite's per-connection mutex
  // would only add cost.
  int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Connection connection(raw);  // owned even when opening failed
  if (rc != SQLITE_OK) {
    return std::unexpected(lastError(raw, "Unable to open " + path.string()));
  }
  return connection;
}

std::expected<void, PlatformError> execute(sqlite3* db, const char* sql, const std::string& what) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return std::unexpected(lastError(db, what));
  }
  return {};
}

bool isBusy(const PlatformError& error) {
  int primary = error.code & 0xff;
  return error.domain == "sqlite" && (primary == SQLITE_BUSY || primary == SQLITE_LOCKED);
}

std::expected<Statement, PlatformError> Statement::prepare(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(raw);
    return std::unexpected(lastError(db, "Unable to prepare statement"));
  }
  return Statement(db, raw);
}

Statement& Statement::bindBytes(int index, std::string_view bytes) {
  // A null pointer would bind NULL rather than an empty BLOB.
  const char* data = bytes.empty() ? "" : bytes.data();
  sqlite3_bind_blob(statement_.get(), index, data, static_cast<int>(bytes.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bindInt(int index, int value) {
  sqlite3_bind_int(statement_.get(), index, value);
  return *this;
}

std::expected<bool, PlatformError> Statement::step() {
  switch (sqlite3_step(statement_.get())) {
    case SQLITE_ROW:
      return true;
    case SQLITE_DONE:
      return false;
    default:
      return std::unexpected(lastError(db_, "Unable to access the key-value store"));
  }
}

std::string Statement::columnBytes(int index) const {
  auto* data = static_cast<const char*>(sqlite3_column_blob(statement_.get(), index));
  int size = sqlite3_column_bytes(statement_.get(), index);
  return data ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

int Statement::columnInt(int index) const { return sqlite3_column_int(statement_.get(), index); }

std::expected<ImmediateTransaction, PlatformError> ImmediateTransaction::begin(sqlite3* db) {
  if (auto begun = execute(db, "BEGIN IMMEDIATE", "Unable to begin a transaction"); !begun) {
    return std::unexpected(std::move(begun).error());
  }
  return ImmediateTransaction(db);
}

std::expected<void, PlatformError> ImmediateTransaction::commit() {
  auto committed = execute(db_, "COMMIT", "Unable to commit a transaction");
  if (committed) db_ = nullptr;
  return committed;
}

ImmediateTransaction::~ImmediateTransaction() {
  if (db_ && !sqlite3_get_autocommit(db_)) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

}  // namespace qelvo::sqlite
