// Reads made again and again (a service's options at every tick): statements
// prepared once on the process's connection and kept until it is dropped,
// and the read of several values by a key's path that runs on them.
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_store.h"

namespace kst {
namespace reg {

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

}  // namespace

void ForgetKeptStatements(bool finalize) {
  KeptStatements& kept = Kept();
  if (finalize) {
    for (const KeptStatement& one : kept.list) sqlite3_finalize(one.stmt);
  }
  kept.list.clear();
  kept.db = nullptr;
}

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

}  // namespace reg

WinError ReadKeyValues(std::string_view path, const std::vector<std::string_view>& names,
                       std::vector<RegistryKey::Value>* values) {
  std::vector<RegistryKey::Value> read(names.size());
  WinError err = reg::Shared().Run(reg::DatabasePath(), reg::TxnKind::kRead, [&](sqlite3* db) {
    sqlite3_stmt* find = nullptr;
    sqlite3_stmt* value = nullptr;
    int rc = reg::KeptStatementOf(db, reg::kKeptFindKey, &find);
    if (rc == SQLITE_OK) rc = reg::KeptStatementOf(db, reg::kKeptValue, &value);
    if (rc != SQLITE_OK) return reg::FromSqlite(rc, db);
    int64_t id = 0;
    for (std::string_view part : reg::SplitPath(path)) {
      rc = reg::StepKept(find, id, part);
      if (rc == SQLITE_ROW) id = sqlite3_column_int64(find, 0);
      sqlite3_reset(find);
      if (rc == SQLITE_DONE) return kErrorFileNotFound;
      if (rc != SQLITE_ROW) return reg::FromSqlite(rc, db);
    }
    for (size_t i = 0; i < names.size(); ++i) {
      rc = reg::StepKept(value, id, names[i]);
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
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return reg::FromSqlite(rc, db);
    }
    return kErrorSuccess;
  });
  if (err == kErrorSuccess) *values = std::move(read);
  return err;
}

}  // namespace kst
