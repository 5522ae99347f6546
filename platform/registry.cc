// The registry's keys and values through open handles (RegistryKey), and the
// deletion of a key tree. The database behind them is in registry_store.cc.
#include "platform/registry.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform/registry_store.h"

namespace kst {

using reg::CheckAlive;
using reg::DatabasePath;
using reg::FindSubkey;
using reg::FromSqlite;
using reg::ReadValue;
using reg::ReadValues;
using reg::Resolve;
using reg::Shared;
using reg::SplitPath;
using reg::Statement;
using reg::TxnKind;
using reg::Writable;

namespace {

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
      WinError e = FindSubkey(db, id, part, &id);
      if (e == kErrorSuccess) continue;
      if (e != kErrorFileNotFound) return e;
      Statement insert(db, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
      e = insert.Bind(id).BindText(part).Run();
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
  Value value;
  WinError err = Shared().Run(db_path_, TxnKind::kRead, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e == kErrorSuccess) e = ReadValue(db, id_, name, &value);
    if (e == kErrorSuccess && !value.found) e = kErrorFileNotFound;
    return e;
  });
  if (err != kErrorSuccess) return err;
  if (type != nullptr) *type = value.type;
  const std::string& bytes = value.data;
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
  std::vector<Value> read;
  WinError err = Shared().Run(db_path_, TxnKind::kRead, [&](sqlite3* db) {
    WinError e = CheckAlive(db, id_);
    if (e != kErrorSuccess) return e;
    return ReadValues(db, id_, names, &read);
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

}  // namespace kst
