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
  using reg::Prepare;
  std::vector<RegistryKey::Value> read;
  WinError err = reg::Shared().Run(reg::DatabasePath(), reg::TxnKind::kRead, [&](sqlite3* db) {
    int64_t id = 0;
    WinError e = reg::Resolve(db, path, &id, Prepare::kKept);
    if (e != kErrorSuccess) return e;
    return reg::ReadValues(db, id, names, &read, Prepare::kKept);
  });
  if (err == kErrorSuccess) *values = std::move(read);
  return err;
}

}  // namespace kst
