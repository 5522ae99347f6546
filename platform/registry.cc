#include "platform/registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "platform/registry_testing.h"

namespace kst {

namespace {

// A statement hit another process's lock past the busy timeout: the whole
// transaction is rolled back and run again.
constexpr WinError kRetry = 0xFFFFFFFFu;
constexpr int kBusyTimeoutMs = 5000;
constexpr int kMaxAttempts = 200;

std::atomic<bool> g_force_read_only{false};

// Why this thread's last call answered kErrorRegistryIoFailed.
thread_local std::string t_failure_cause;

WinError IoFailure(std::string cause) {
  t_failure_cause = std::move(cause);
  return kErrorRegistryIoFailed;
}

// The one place where SQLite's codes become Win32 numbers. `db` (may be
// null) tells the system's error behind a failed read or write.
WinError FromSqlite(int rc, sqlite3* db) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kErrorSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kRetry;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:
      return kErrorAccessDenied;
    case SQLITE_NOMEM:
      return kErrorNotEnoughMemory;
    case SQLITE_FULL:
      return IoFailure(std::strerror(ENOSPC));
    default: {
      const int system_error = db != nullptr ? sqlite3_system_errno(db) : 0;
      return IoFailure(system_error != 0 ? std::strerror(system_error) : sqlite3_errstr(rc));
    }
  }
}

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string DatabasePath() {
  std::string home = KestraneHome();
  return home + "/" + std::string(kRegistryFileName);
}

std::string FolderOf(const std::string& file) {
  size_t slash = file.rfind('/');
  return slash == std::string::npos ? "." : file.substr(0, slash);
}

void MakeFolders(const std::string& folder) {
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '/') {
      ::mkdir(folder.substr(0, i).c_str(), 0755);
    }
  }
}

// Whether this process may change the database: the file (when it exists)
// and its folder, which holds the journal files, must both be writable.
bool Writable(const std::string& db_path) {
  if (g_force_read_only.load()) return false;
  MakeFolders(FolderOf(db_path));
  if (::faccessat(AT_FDCWD, FolderOf(db_path).c_str(), W_OK, AT_EACCESS) != 0)
    return false;
  if (::faccessat(AT_FDCWD, db_path.c_str(), F_OK, AT_EACCESS) != 0)
    return true;
  return ::faccessat(AT_FDCWD, db_path.c_str(), W_OK, AT_EACCESS) == 0;
}

class Statement final {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
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
  int rc_ = SQLITE_OK;
  int arg_ = 0;
};

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key, name));";

// ---- Statements kept on the connection from call to call ----
// For reads made on every tick, so that their SQL is not parsed again each
// time. Guarded, like the connection, by Connections::mu_; a statement is
// reset before it goes out of use, so that it holds no read lock.

struct KeptStatement {
  const char* sql;  // compared by address: callers pass their constants
  sqlite3_stmt* stmt;
};
struct KeptStatements {
  sqlite3* db = nullptr;
  std::vector<KeptStatement> list;
};

KeptStatements& Kept() {
  // Never destroyed, like the connection they belong to.
  static KeptStatements* kept = new KeptStatements();
  return *kept;
}

// Forgets the kept statements of the connection being dropped, finalising
// them unless the connection is abandoned (inherited across fork).
void ForgetKeptStatements(bool finalize) {
  KeptStatements& kept = Kept();
  if (finalize) {
    for (const KeptStatement& one : kept.list) sqlite3_finalize(one.stmt);
  }
  kept.list.clear();
  kept.db = nullptr;
}

// The statement of `sql` on db, prepared on first use.
int KeptStatementOf(sqlite3* db, const char* sql, sqlite3_stmt** stmt) {
  KeptStatements& kept = Kept();
  if (kept.db != db) {
    kept.list.clear();  // empty already: dropping the old connection forgot them
    kept.db = db;
  }
  for (const KeptStatement& one : kept.list) {
    if (one.sql == sql) {
      *stmt = one.stmt;
      return SQLITE_OK;
    }
  }
  *stmt = nullptr;
  int rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, stmt, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(*stmt);
    *stmt = nullptr;
    return rc;
  }
  kept.list.push_back({sql, *stmt});
  return SQLITE_OK;
}

// ---- end of kept statements ----

// The process's connection to one database. Guarded by Connections::mu.
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

  WinError Checkpoint(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    WinError err = Connect(path, TxnKind::kRead);
    if (err != kErrorSuccess) return err;
    if (!conn_.has_schema) return kErrorSuccess;
    int rc = sqlite3_wal_checkpoint_v2(conn_.db, nullptr,
                                       SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                       nullptr);
    err = FromSqlite(rc, conn_.db);
    return err == kRetry ? kErrorSuccess : err;  // a later checkpoint will do
  }

 private:
  WinError Exec(const char* sql) {
    return FromSqlite(sqlite3_exec(conn_.db, sql, nullptr, nullptr, nullptr), conn_.db);
  }

  void Drop() {
    // A connection inherited across fork belongs to the parent: closing it
    // here could disturb the parent's locks and journal, so it is abandoned.
    ForgetKeptStatements(conn_.db != nullptr && conn_.pid == ::getpid());
    if (conn_.db != nullptr && conn_.pid == ::getpid()) sqlite3_close(conn_.db);
    conn_ = Connection();
  }

  WinError Connect(const std::string& path, TxnKind kind) {
    bool want_write = kind == TxnKind::kWrite;
    // A connection that found no tables yet is not kept: another process may
    // have stored the first key since.
    if (conn_.db != nullptr && conn_.path == path && conn_.pid == ::getpid() &&
        (conn_.writable || !want_write) && conn_.has_schema)
      return kErrorSuccess;
    Drop();
    MakeFolders(FolderOf(path));
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_NOMUTEX |
                (want_write || Writable(path)
                     ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                     : SQLITE_OPEN_READONLY);
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_close(db);
      return want_write ? kErrorAccessDenied : kErrorFileNotFound;
    }
    conn_.path = path;
    conn_.pid = ::getpid();
    conn_.db = db;
    conn_.writable = sqlite3_db_readonly(db, "main") == 0;
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (conn_.writable) {
      // Readers without write permission can read a WAL database only while
      // its journal files exist, so closing leaves them in place.
      int persist = 1;
      sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
      WinError err = Exec("PRAGMA journal_mode=WAL");
      if (err == kErrorSuccess) err = Exec("PRAGMA synchronous=NORMAL");
      if (err == kErrorSuccess) err = Exec("BEGIN IMMEDIATE");
      if (err == kErrorSuccess) {
        err = Exec(kSchema);
        if (err == kErrorSuccess) err = Exec("COMMIT");
        if (err != kErrorSuccess)
          sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      }
      if (err != kErrorSuccess) {
        Drop();
        return err;
      }
      conn_.has_schema = true;
    } else {
      Statement s(db, "SELECT 1 FROM sqlite_master WHERE name = 'vals'");
      int step = s.Step();
      if (step != SQLITE_ROW && step != SQLITE_DONE) {
        WinError err = FromSqlite(step, db);
        Drop();
        return err == kRetry ? kRetry : kErrorFileNotFound;
      }
      conn_.has_schema = step == SQLITE_ROW;
    }
    if (want_write && !conn_.writable) {
      Drop();
      return kErrorAccessDenied;
    }
    return kErrorSuccess;
  }

  std::mutex mu_;
  Connection conn_;  // guarded by mu_
};

Connections& Shared() {
  // Never destroyed: handles may be closed from static destructors.
  static Connections* connections = new Connections();
  return *connections;
}

// The key named by path below the root (id 0), or kErrorFileNotFound.
WinError Resolve(sqlite3* db, std::string_view path, int64_t* id) {
  int64_t current = 0;
  for (std::string_view part : SplitPath(path)) {
    Statement s(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
    s.Bind(current).BindText(part);
    int rc = s.Step();
    if (rc == SQLITE_DONE) return kErrorFileNotFound;
    if (rc != SQLITE_ROW) return FromSqlite(rc, db);
    current = s.Int(0);
  }
  *id = current;
  return kErrorSuccess;
}

WinError CheckAlive(sqlite3* db, int64_t id) {
  if (id == 0) return kErrorSuccess;
  Statement s(db, "SELECT 1 FROM keys WHERE id = ?1");
  int rc = s.Bind(id).Step();
  if (rc == SQLITE_ROW) return kErrorSuccess;
  return rc == SQLITE_DONE ? kErrorKeyDeleted : FromSqlite(rc, db);
}

WinError DeleteTreeById(sqlite3* db, int64_t id) {
  static const char* kStatements[] = {
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
      "  SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
      "DELETE FROM vals WHERE key IN sub",
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
      "  SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
      "DELETE FROM keys WHERE id IN sub",
  };
  for (const char* sql : kStatements) {
    Statement s(db, sql);
    WinError err = s.Bind(id).Run();
    if (err != kErrorSuccess) return err;
  }
  return kErrorSuccess;
}

}  // namespace

std::string RegistryFailureCause() { return t_failure_cause; }

void SetRegistryReadOnlyForTesting(bool read_only) {
  g_force_read_only.store(read_only);
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : id_(std::exchange(other.id_, -1)),
      access_(other.access_),
      db_path_(std::move(other.db_path_)) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
  if (this != &other) {
    id_ = std::exchange(other.id_, -1);
    access_ = other.access_;
    db_path_ = std::move(other.db_path_);
  }
  return *this;
}

void RegistryKey::Close() {
  id_ = -1;
  db_path_.clear();
}

WinError RegistryKey::Open(std::string_view path, RegAccess access,
                           RegistryKey* key) {
  key->Close();
  std::string db_path = DatabasePath();
  if (access == RegAccess::kReadWrite && !Writable(db_path))
    return kErrorAccessDenied;
  int64_t id = -1;
  WinError err = Shared().Run(db_path, TxnKind::kRead, [&](sqlite3* db) {
    return Resolve(db, path, &id);
  });
  if (err != kErrorSuccess) return err;
  key->id_ = id;
  key->access_ = access;
  key->db_path_ = std::move(db_path);
  return kErrorSuccess;
}

WinError RegistryKey::Create(std::string_view path, RegistryKey* key,
                             bool* created) {
  key->Close();
  std::string db_path = DatabasePath();
  if (!Writable(db_path)) return kErrorAccessDenied;
  int64_t id = 0;
  bool made = false;
  WinError err = Shared().Run(db_path, TxnKind::kWrite, [&](sqlite3* db) {
    id = 0;
    made = false;
    for (std::string_view part : SplitPath(path)) {
      Statement find(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
      int rc = find.Bind(id).BindText(part).Step();
      if (rc == SQLITE_ROW) {
        id = find.Int(0);
        continue;
      }
      if (rc != SQLITE_DONE) return FromSqlite(rc, db);
      Statement insert(db, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
      WinError e = insert.Bind(id).BindText(part).Run();
      if (e != kErrorSuccess) return e;
      id = sqlite3_last_insert_rowid(db);
      made = true;
    }
    return kErrorSuccess;
  });
  if (err != kErrorSuccess) return err;
  key->id_ = id;
  key->access_ = RegAccess::kReadWrite;
  key->db_path_ = std::move(db_path);
  if (created != nullptr) *created = made;
  return kErrorSuccess;
}

WinError RegistryKey::QueryValue(std::string_view name, RegType* type,
                                 void* data, uint32_t* size) const {
  if (!is_open()) return kErrorInvalidHandle;
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  RegType stored_type = 0;
  std::string bytes;
  WinError err = Shared().Run(db_path_, TxnKind::kRead, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e != kErrorSuccess) return e;
    Statement s(db, "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
    int rc = s.Bind(id_).BindText(name).Step();
    if (rc == SQLITE_DONE) return kErrorFileNotFound;
    if (rc != SQLITE_ROW) return FromSqlite(rc, db);
    stored_type = static_cast<RegType>(s.Int(0));
    bytes = s.Blob(1);
    return kErrorSuccess;
  });
  if (err != kErrorSuccess) return err;
  if (type != nullptr) *type = stored_type;
  uint32_t needed = static_cast<uint32_t>(bytes.size());
  if (data != nullptr && *size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  if (data != nullptr && needed > 0) std::memcpy(data, bytes.data(), needed);
  if (size != nullptr) *size = needed;
  return kErrorSuccess;
}

WinError RegistryKey::QueryValue(std::string_view name, RegType* type,
                                 std::string* data) const {
  uint32_t size = 0;
  WinError err = QueryValue(name, type, nullptr, &size);
  // The value may grow between the two reads; ask again until it fits.
  while (err == kErrorSuccess) {
    std::string buffer(size, '\0');
    err = QueryValue(name, type, buffer.data(), &size);
    if (err == kErrorSuccess) {
      buffer.resize(size);
      if (data != nullptr) *data = std::move(buffer);
      return kErrorSuccess;
    }
    if (err == kErrorMoreData) err = kErrorSuccess;
  }
  return err;
}

WinError RegistryKey::QueryValues(const std::vector<std::string_view>& names,
                                  std::vector<Value>* values) const {
  if (!is_open()) return kErrorInvalidHandle;
  std::vector<Value> read(names.size());
  WinError err = Shared().Run(db_path_, TxnKind::kRead, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e != kErrorSuccess) return e;
    for (size_t i = 0; i < names.size(); ++i) {
      Statement one(db, "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
      int rc = one.Bind(id_).BindText(names[i]).Step();
      if (rc == SQLITE_DONE) {
        read[i] = Value();
        continue;
      }
      if (rc != SQLITE_ROW) return FromSqlite(rc, db);
      read[i].found = true;
      read[i].type = static_cast<RegType>(one.Int(0));
      read[i].data = one.Blob(1);
    }
    return kErrorSuccess;
  });
  if (err == kErrorSuccess) *values = std::move(read);
  return err;
}

WinError RegistryKey::SetValue(std::string_view name, RegType type,
                               const void* data, uint32_t size) {
  if (!is_open()) return kErrorInvalidHandle;
  if (access_ != RegAccess::kReadWrite) return kErrorAccessDenied;
  if (data == nullptr && size > 0) return kErrorInvalidParameter;
  return Shared().Run(db_path_, TxnKind::kWrite, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e != kErrorSuccess) return e;
    Statement s(db,
                "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                "ON CONFLICT(key, name) DO UPDATE SET "
                "  type = excluded.type, data = excluded.data");
    return s.Bind(id_).BindText(name).Bind(type).BindBlob(data, size).Run();
  });
}

WinError RegistryKey::EnumValue(uint32_t index, std::string* name,
                                RegType* type, std::string* data) const {
  if (!is_open()) return kErrorInvalidHandle;
  return Shared().Run(db_path_, TxnKind::kRead, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e != kErrorSuccess) return e;
    Statement s(db,
                "SELECT name, type, data FROM vals WHERE key = ?1 "
                "ORDER BY rowid LIMIT 1 OFFSET ?2");
    int rc = s.Bind(id_).Bind(index).Step();
    if (rc == SQLITE_DONE) return kErrorNoMoreItems;
    if (rc != SQLITE_ROW) return FromSqlite(rc, db);
    if (name != nullptr) *name = s.Text(0);
    if (type != nullptr) *type = static_cast<RegType>(s.Int(1));
    if (data != nullptr) *data = s.Blob(2);
    return kErrorSuccess;
  });
}

WinError RegistryKey::EnumSubkey(uint32_t index, std::string* name) const {
  if (!is_open()) return kErrorInvalidHandle;
  return Shared().Run(db_path_, TxnKind::kRead, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e != kErrorSuccess) return e;
    Statement s(db,
                "SELECT name FROM keys WHERE parent = ?1 "
                "ORDER BY name LIMIT 1 OFFSET ?2");
    int rc = s.Bind(id_).Bind(index).Step();
    if (rc == SQLITE_DONE) return kErrorNoMoreItems;
    if (rc != SQLITE_ROW) return FromSqlite(rc, db);
    if (name != nullptr) *name = s.Text(0);
    return kErrorSuccess;
  });
}

WinError RegistryKey::QueryInfo(RegKeyInfo* info) const {
  if (!is_open()) return kErrorInvalidHandle;
  RegKeyInfo out;
  WinError err = Shared().Run(db_path_, TxnKind::kRead, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e != kErrorSuccess) return e;
    Statement keys(db,
                   "SELECT count(*), ifnull(max(length(name)), 0) FROM keys "
                   "WHERE parent = ?1");
    int rc = keys.Bind(id_).Step();
    if (rc != SQLITE_ROW) return FromSqlite(rc, db);
    out.subkey_count = static_cast<uint32_t>(keys.Int(0));
    out.max_subkey_name_length = static_cast<uint32_t>(keys.Int(1));
    Statement vals(db,
                   "SELECT count(*), ifnull(max(length(name)), 0), "
                   "  ifnull(max(length(data)), 0) FROM vals WHERE key = ?1");
    rc = vals.Bind(id_).Step();
    if (rc != SQLITE_ROW) return FromSqlite(rc, db);
    out.value_count = static_cast<uint32_t>(vals.Int(0));
    out.max_value_name_length = static_cast<uint32_t>(vals.Int(1));
    out.max_value_data_length = static_cast<uint32_t>(vals.Int(2));
    return kErrorSuccess;
  });
  if (err == kErrorSuccess && info != nullptr) *info = out;
  return err;
}

WinError RegistryKey::DeleteValue(std::string_view name) {
  if (!is_open()) return kErrorInvalidHandle;
  if (access_ != RegAccess::kReadWrite) return kErrorAccessDenied;
  return Shared().Run(db_path_, TxnKind::kWrite, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e != kErrorSuccess) return e;
    Statement s(db, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
    e = s.Bind(id_).BindText(name).Run();
    if (e != kErrorSuccess) return e;
    return sqlite3_changes(db) > 0 ? kErrorSuccess : kErrorFileNotFound;
  });
}

WinError RegistryKey::Flush() {
  if (!is_open()) return kErrorInvalidHandle;
  return Shared().Checkpoint(db_path_);
}

WinError DeleteKeyTree(std::string_view path) {
  if (SplitPath(path).empty()) return kErrorAccessDenied;
  std::string db_path = DatabasePath();
  if (!Writable(db_path)) return kErrorAccessDenied;
  return Shared().Run(db_path, TxnKind::kWrite, [&](sqlite3* db) {
    int64_t id = 0;
    WinError e = Resolve(db, path, &id);
    if (e != kErrorSuccess) return e;
    return DeleteTreeById(db, id);
  });
}

// ---- Several values of one key by its path, in one transaction ----

namespace {

constexpr const char* kKeptFindKey = "SELECT id FROM keys WHERE parent = ?1 AND name = ?2";
constexpr const char* kKeptValue = "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2";

// One row of a kept statement for (id, name); SQLITE_ROW, SQLITE_DONE or
// an error. The caller resets the statement.
int StepKept(sqlite3_stmt* stmt, int64_t id, std::string_view name) {
  sqlite3_reset(stmt);
  int rc = sqlite3_bind_int64(stmt, 1, id);
  if (rc == SQLITE_OK) {
    rc = sqlite3_bind_text(stmt, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  }
  return rc == SQLITE_OK ? sqlite3_step(stmt) : rc;
}

}  // namespace

WinError ReadKeyValues(std::string_view path, const std::vector<std::string_view>& names,
                       std::vector<RegistryKey::Value>* values) {
  std::vector<RegistryKey::Value> read(names.size());
  WinError err = Shared().Run(DatabasePath(), TxnKind::kRead, [&](sqlite3* db) {
    sqlite3_stmt* find = nullptr;
    sqlite3_stmt* value = nullptr;
    int rc = KeptStatementOf(db, kKeptFindKey, &find);
    if (rc == SQLITE_OK) rc = KeptStatementOf(db, kKeptValue, &value);
    if (rc != SQLITE_OK) return FromSqlite(rc, db);
    int64_t id = 0;
    for (std::string_view part : SplitPath(path)) {
      rc = StepKept(find, id, part);
      if (rc == SQLITE_ROW) id = sqlite3_column_int64(find, 0);
      sqlite3_reset(find);
      if (rc == SQLITE_DONE) return kErrorFileNotFound;
      if (rc != SQLITE_ROW) return FromSqlite(rc, db);
    }
    for (size_t i = 0; i < names.size(); ++i) {
      rc = StepKept(value, id, names[i]);
      read[i] = RegistryKey::Value();
      if (rc == SQLITE_ROW) {
        read[i].found = true;
        read[i].type = static_cast<RegType>(sqlite3_column_int64(value, 0));
        const void* data = sqlite3_column_blob(value, 1);
        if (data != nullptr) {
          read[i].data.assign(static_cast<const char*>(data),
                              static_cast<size_t>(sqlite3_column_bytes(value, 1)));
        }
      }
      sqlite3_reset(value);
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return FromSqlite(rc, db);
    }
    return kErrorSuccess;
  });
  if (err == kErrorSuccess) *values = std::move(read);
  return err;
}

}  // namespace kst
