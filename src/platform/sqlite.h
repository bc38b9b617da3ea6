// Thin owning wrappers over the SQLite C API: a connection, a prepared statement, and
// an immediate transaction that rolls back unless committed. Failures come back as
// PlatformError values in the "sqlite" domain, carrying SQLite's own message.
#pragma once

#include <sqlite3.h>

#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "qelvo/errors.h"

namespace qelvo::sqlite {

struct CloseConnection {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

// The error of the last failing call on `db`: "<what>: <SQLite's message>".
PlatformError lastError(sqlite3* db, const std::string& what);

// Opens (creating when missing) the database file at `path`. The caller serialises
// every use of the connection.
[[nodiscard]] std::expected<Connection, PlatformError> openConnection(
    const std::filesystem::path& path);

// Runs SQL text that returns no rows of interest (pragmas, schema, BEGIN/COMMIT);
// `what` names the step in the error.
[[nodiscard]] std::expected<void, PlatformError> execute(sqlite3* db, const char* sql,
                                                         const std::string& what);

// Whether the error says another connection holds a lock that is in the way.
bool isBusy(const PlatformError& error);

class Statement {
 public:
  [[nodiscard]] static std::expected<Statement, PlatformError> prepare(sqlite3* db,
                                                                       std::string_view sql);

  // Binds bytes as a BLOB: suite names, keys and values are compared byte for byte,
  // whatever they contain (embedded NULs and invalid UTF-8 included).
  Statement& bindBytes(int index, std::string_view bytes);
  Statement& bindInt(int index, int value);

  // Advances to the next row: true when there is one, false when done.
  [[nodiscard]] std::expected<bool, PlatformError> step();

  std::string columnBytes(int index) const;
  int columnInt(int index) const;

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
  };
  Statement(sqlite3* db, sqlite3_stmt* statement) : db_(db), statement_(statement) {}

  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

// BEGIN IMMEDIATE: takes the database's write lock at once (waiting through the busy
// timeout), so a read followed by a write inside it cannot be overtaken by another
// connection. Rolled back on destruction unless `commit` succeeded.
class ImmediateTransaction {
 public:
  [[nodiscard]] static std::expected<ImmediateTransaction, PlatformError> begin(sqlite3* db);
  ImmediateTransaction(ImmediateTransaction&& other) noexcept
      : db_(std::exchange(other.db_, nullptr)) {}
  ImmediateTransaction(const ImmediateTransaction&) = delete;
  ImmediateTransaction& operator=(const ImmediateTransaction&) = delete;
  ImmediateTransaction& operator=(ImmediateTransaction&&) = delete;
  ~ImmediateTransaction();

  [[nodiscard]] std::expected<void, PlatformError> commit();

 private:
  explicit ImmediateTransaction(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

}  // namespace qelvo::sqlite
