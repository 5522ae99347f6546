// The database behind the registry: errors, the process's connection and
// its transactions, statements, and the lookups of keys and values.
#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/paths.h"
#include "platform/registry_testing.h"
#include "platform/root_doors.h"

namespace kst {
namespace reg {

namespace {

constexpr int kBusyTimeoutMs = 5000;

std::atomic<bool> g_force_read_only{false};

// Why this thread's last call answered kErrorRegistryIoFailed.
thread_local std::string t_failure_cause;

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

// Constants, as kept statements are found by the address of their SQL.
constexpr const char* kFindSubkey = "SELECT id FROM keys WHERE parent = ?1 AND name = ?2";
constexpr const char* kReadValue = "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2";

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

}  // namespace

WinError IoFailure(std::string cause) {
  t_failure_cause = std::move(cause);
  return kErrorRegistryIoFailed;
}

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

// The file (when it exists) and its folder, which holds the journal files,
// must both be writable.
bool Writable(const std::string& db_path) {
  if (g_force_read_only.load()) return false;
  MakeFolders(FolderOf(db_path));
  if (::faccessat(AT_FDCWD, FolderOf(db_path).c_str(), W_OK, AT_EACCESS) != 0)
    return false;
  if (::faccessat(AT_FDCWD, db_path.c_str(), F_OK, AT_EACCESS) != 0)
    return true;
  return ::faccessat(AT_FDCWD, db_path.c_str(), W_OK, AT_EACCESS) == 0;
}

Statement::Statement(sqlite3* db, const char* sql, Prepare prepare)
    : db_(db), kept_(prepare == Prepare::kKept) {
  rc_ = kept_ ? KeptStatementOf(db, sql, &stmt_)
              : sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
}

Statement::~Statement() {
  if (kept_) {
    sqlite3_reset(stmt_);
  } else {
    sqlite3_finalize(stmt_);
  }
}

WinError Connections::Checkpoint(const std::string& path) {
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

WinError Connections::Exec(const char* sql) {
  return FromSqlite(sqlite3_exec(conn_.db, sql, nullptr, nullptr, nullptr), conn_.db);
}

void Connections::Drop() {
  // A connection inherited across fork belongs to the parent: closing it
  // here could disturb the parent's locks and journal, so it is abandoned.
  ForgetKeptStatements(conn_.db != nullptr && conn_.pid == ::getpid());
  if (conn_.db != nullptr && conn_.pid == ::getpid()) sqlite3_close(conn_.db);
  conn_ = Connection();
}

WinError Connections::Connect(const std::string& path, TxnKind kind) {
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
  // Root never opens the database or its journals through a link: whoever
  // may change the link would choose which file root's writes create or
  // overwrite. SQLite opens them by name, so no folder from "/" down and no
  // one of them may be one another user could change, or make where it is
  // missing. (A home reached through root's own link stays usable.)
  if (::geteuid() == 0) {
    for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
      struct stat st;
      if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        return IoFailure(file + " is a symbolic link; root never opens the registry through one");
      }
      if (std::string unsafe = UnsafePathReason(file); !unsafe.empty()) return IoFailure(unsafe);
    }
  }
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

Connections& Shared() {
  static Connections* connections = new Connections();
  return *connections;
}

WinError FindSubkey(sqlite3* db, int64_t parent, std::string_view name,
                    int64_t* id, Prepare prepare) {
  Statement s(db, kFindSubkey, prepare);
  int rc = s.Bind(parent).BindText(name).Step();
  if (rc == SQLITE_DONE) return kErrorFileNotFound;
  if (rc != SQLITE_ROW) return FromSqlite(rc, db);
  *id = s.Int(0);
  return kErrorSuccess;
}

WinError Resolve(sqlite3* db, std::string_view path, int64_t* id,
                 Prepare prepare) {
  int64_t current = 0;
  for (std::string_view part : SplitPath(path)) {
    WinError err = FindSubkey(db, current, part, &current, prepare);
    if (err != kErrorSuccess) return err;
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

WinError ReadValue(sqlite3* db, int64_t key, std::string_view name,
                   RegistryKey::Value* value, Prepare prepare) {
  *value = RegistryKey::Value();
  Statement s(db, kReadValue, prepare);
  int rc = s.Bind(key).BindText(name).Step();
  if (rc == SQLITE_DONE) return kErrorSuccess;
  if (rc != SQLITE_ROW) return FromSqlite(rc, db);
  value->found = true;
  value->type = static_cast<RegType>(s.Int(0));
  value->data = s.Blob(1);
  return kErrorSuccess;
}

WinError ReadValues(sqlite3* db, int64_t key,
                    const std::vector<std::string_view>& names,
                    std::vector<RegistryKey::Value>* values,
                    Prepare prepare) {
  values->resize(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    WinError err = ReadValue(db, key, names[i], &(*values)[i], prepare);
    if (err != kErrorSuccess) return err;
  }
  return kErrorSuccess;
}

}  // namespace reg

std::string RegistryFailureCause() { return reg::t_failure_cause; }

void SetRegistryReadOnlyForTesting(bool read_only) {
  reg::g_force_read_only.store(read_only);
}

void DropRegistryConnectionForTesting() { reg::Shared().Close(); }

}  // namespace kst
