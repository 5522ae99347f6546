// Inside the registry: the database behind platform/registry.h. One
// connection per process, transactions that wait out other writers,
// statements, and the lookups of keys and values that every registry call
// makes. Not for callers outside the registry*.cc files.
#ifndef KESTRANE_PLATFORM_REGISTRY_STORE_H_
#define KESTRANE_PLATFORM_REGISTRY_STORE_H_

#include <sqlite3.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/registry.h"

namespace kst::reg {

// A statement hit another process's lock past the busy timeout: the whole
// transaction is rolled back and run again.
inline constexpr WinError kRetry = 0xFFFFFFFFu;
inline constexpr int kMaxAttempts = 200;

// The one place where SQLite's codes become Win32 numbers. `db` (may be
// null) tells the system's error behind a failed read or write. Every
// kErrorRegistryIoFailed goes through IoFailure, which keeps its cause for
// RegistryFailureCause().
WinError FromSqlite(int rc, sqlite3* db);
WinError IoFailure(std::string cause);

// The key names of a path, empty components passed over.
std::vector<std::string_view> SplitPath(std::string_view path);

// The database file under KestraneHome().
std::string DatabasePath();

// Whether this process may change the database at db_path.
bool Writable(const std::string& db_path);

// kFresh: prepared for this use and finalised after it. kKept: prepared once
// on the connection and kept (see below), for reads made on every tick.
enum class Prepare { kFresh, kKept };

// One use of a statement. Errors are held until Step: binding after a failed
// prepare or bind does nothing.
class Statement final {
 public:
  // With kKept, `sql` must be a constant: kept statements are found by its
  // address. One use of a kept statement at a time.
  Statement(sqlite3* db, const char* sql, Prepare prepare = Prepare::kFresh);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int64_t v) {
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, ++arg_, v);
    return *this;
  }
  Statement& BindText(std::string_view v) {
    if (rc_ == SQLITE_OK)
      rc_ = sqlite3_bind_text(stmt_, ++arg_, v.data(),
                              static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(const void* data, uint32_t size) {
    // A null pointer would store NULL rather than an empty value.
    static const char kEmpty = 0;
    if (rc_ == SQLITE_OK)
      rc_ = sqlite3_bind_blob(stmt_, ++arg_, size ? data : &kEmpty,
                              static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }

  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() {
    if (rc_ != SQLITE_OK && rc_ != SQLITE_ROW) return rc_;
    rc_ = sqlite3_step(stmt_);
    return rc_;
  }
  // Steps a statement that returns no row; a Win32 number.
  WinError Run() {
    int rc = Step();
    return rc == SQLITE_DONE ? kErrorSuccess : FromSqlite(rc, db_);
  }

  int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) {
    const unsigned char* p = sqlite3_column_text(stmt_, col);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           sqlite3_column_bytes(stmt_, col))
             : std::string();
  }
  std::string Blob(int col) {
    const void* p = sqlite3_column_blob(stmt_, col);
    return p ? std::string(static_cast<const char*>(p),
                           sqlite3_column_bytes(stmt_, col))
             : std::string();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  bool kept_;
  int rc_ = SQLITE_OK;
  int arg_ = 0;
};

// ---- Statements kept on the connection from call to call ----
// So that the SQL of reads made on every tick is not parsed again each time.
// Guarded, like the connection, by Connections::mu_; a kept statement is
// reset when its use ends, so that it holds no read lock.

// The statement of `sql` on db, prepared on first use.
int KeptStatementOf(sqlite3* db, const char* sql, sqlite3_stmt** stmt);

// Forgets the kept statements of the connection being dropped, finalising
// them unless the connection is abandoned (inherited across fork).
void ForgetKeptStatements(bool finalize);

// ---- The connection and its transactions ----

// The process's connection to one database. Guarded by Connections::mu_.
struct Connection {
  std::string path;
  pid_t pid = 0;
  sqlite3* db = nullptr;
  bool writable = false;
  bool has_schema = false;
};

enum class TxnKind { kRead, kWrite };

class Connections final {
 public:
  // Runs body(db) in one transaction on the database at path, committing
  // when it answers kErrorSuccess. Waits out other writers.
  template <typename Body>
  WinError Run(const std::string& path, TxnKind kind, Body&& body) {
    std::lock_guard<std::mutex> lock(mu_);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
      WinError err = Connect(path, kind);
      if (err == kErrorSuccess) {
        if (kind == TxnKind::kRead && !conn_.has_schema)
          return kErrorFileNotFound;  // nothing was ever stored
        err = Exec(kind == TxnKind::kWrite ? "BEGIN IMMEDIATE" : "BEGIN");
        if (err == kErrorSuccess) {
          err = body(conn_.db);
          if (err == kErrorSuccess) {
            err = Exec("COMMIT");
            if (err == kErrorSuccess) return err;
          }
          sqlite3_exec(conn_.db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
      }
      if (err != kRetry) return err;
      std::this_thread::sleep_for(std::chrono::milliseconds(1 + attempt % 10));
    }
    return IoFailure("the database stayed locked by other processes");
  }

  WinError Checkpoint(const std::string& path);

  // Closes the connection; the next Run opens the database anew.
  void Close() {
    std::lock_guard<std::mutex> lock(mu_);
    Drop();
  }

 private:
  WinError Exec(const char* sql);
  void Drop();
  WinError Connect(const std::string& path, TxnKind kind);

  std::mutex mu_;
  Connection conn_;  // guarded by mu_
};

// The process's connections. Never destroyed: handles may be closed from
// static destructors.
Connections& Shared();

// ---- Lookups inside a transaction ----

// The key named by path below the root (id 0), or kErrorFileNotFound.
WinError Resolve(sqlite3* db, std::string_view path, int64_t* id,
                 Prepare prepare = Prepare::kFresh);

// The subkey `name` of parent, or kErrorFileNotFound.
WinError FindSubkey(sqlite3* db, int64_t parent, std::string_view name,
                    int64_t* id, Prepare prepare = Prepare::kFresh);

// kErrorKeyDeleted when the key of id is gone.
WinError CheckAlive(sqlite3* db, int64_t id);

// The value `name` of key `key`: found false when it is missing.
WinError ReadValue(sqlite3* db, int64_t key, std::string_view name,
                   RegistryKey::Value* value, Prepare prepare = Prepare::kFresh);

// (*values)[i] answers names[i]; *values is resized to names.
WinError ReadValues(sqlite3* db, int64_t key,
                    const std::vector<std::string_view>& names,
                    std::vector<RegistryKey::Value>* values,
                    Prepare prepare = Prepare::kFresh);

}  // namespace kst::reg

#endif  // KESTRANE_PLATFORM_REGISTRY_STORE_H_
