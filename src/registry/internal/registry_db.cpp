#include "registry/internal/registry_db.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

namespace vg::platform::registry_internal {
namespace {

// "VGRG": marks a file as a hive, so that pointing the store at some other
// SQLite database fails instead of adding tables to it.
constexpr int64_t kApplicationId = 0x56475247;
constexpr int64_t kSchemaVersion = 1;

// How long one call keeps trying while other processes hold the lock. Each
// try already waits up to the busy timeout inside SQLite.
constexpr auto kBusyDeadline = std::chrono::seconds(60);
constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reg_key(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name BLOB NOT NULL,
  fold BLOB NOT NULL,
  class BLOB NOT NULL DEFAULT x'',
  options INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX IF NOT EXISTS reg_key_by_name ON reg_key(parent, fold);
CREATE INDEX IF NOT EXISTS reg_key_by_parent ON reg_key(parent);
CREATE TABLE IF NOT EXISTS reg_value(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  name BLOB NOT NULL,
  fold BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS reg_value_by_name ON reg_value(key, fold);
CREATE INDEX IF NOT EXISTS reg_value_by_key ON reg_value(key);
INSERT OR IGNORE INTO reg_key(id, parent, name, fold) VALUES
  (1, 0, CAST('HKEY_CLASSES_ROOT' AS BLOB), CAST('HKEY_CLASSES_ROOT' AS BLOB)),
  (2, 0, CAST('HKEY_CURRENT_USER' AS BLOB), CAST('HKEY_CURRENT_USER' AS BLOB)),
  (3, 0, CAST('HKEY_LOCAL_MACHINE' AS BLOB), CAST('HKEY_LOCAL_MACHINE' AS BLOB)),
  (4, 0, CAST('HKEY_USERS' AS BLOB), CAST('HKEY_USERS' AS BLOB)),
  (6, 0, CAST('HKEY_CURRENT_CONFIG' AS BLOB), CAST('HKEY_CURRENT_CONFIG' AS BLOB));
)sql";

[[noreturn]] void Fail(int rc) { throw SqlFailure{rc & 0xFF}; }

}  // namespace

bool IsBusyCode(int code) {
  // SQLITE_PROTOCOL is the WAL's "lost a race for a lock, try again".
  return code == SQLITE_BUSY || code == SQLITE_LOCKED ||
         code == SQLITE_PROTOCOL;
}

bool IsReadOnlyCode(int code) { return code == SQLITE_READONLY; }

int32_t ResultOfFailure(int code) {
  return code == SQLITE_NOMEM ? kRegOutOfMemory : kRegIoFailed;
}

bool WaitBeforeRetry(int attempt, std::chrono::steady_clock::time_point start) {
  if (std::chrono::steady_clock::now() - start > kBusyDeadline) return false;
  std::this_thread::sleep_for(
      std::chrono::milliseconds(1 << std::min(attempt, 5)));
  return true;
}

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

void Statement::BindInt(int index, int64_t value) {
  int rc = sqlite3_bind_int64(stmt_, index, value);
  if (rc != SQLITE_OK) Fail(rc);
}

void Statement::BindBlob(int index, std::string_view bytes) {
  // A null pointer would bind SQL NULL; "" keeps an empty name a BLOB.
  const char* data = bytes.empty() ? "" : bytes.data();
  int rc =
      sqlite3_bind_blob64(stmt_, index, data, bytes.size(), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) Fail(rc);
}

bool Statement::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(rc);
}

int64_t Statement::ColumnInt(int column) {
  return sqlite3_column_int64(stmt_, column);
}

std::string Statement::ColumnBlob(int column) {
  // Size first: for a BLOB column that converts nothing, and a zero-length
  // BLOB comes back as a null pointer, which is no failure.
  int size = sqlite3_column_bytes(stmt_, column);
  if (size <= 0) return {};
  const void* data = sqlite3_column_blob(stmt_, column);
  if (data == nullptr) Fail(SQLITE_NOMEM);
  return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

namespace {

// The codes with which SQLite says it cannot write where the hive lies: a
// write-protected file, a folder where the WAL cannot be made, a read-only
// medium.
bool IsCannotWriteCode(int code) {
  return code == SQLITE_READONLY || code == SQLITE_CANTOPEN ||
         code == SQLITE_PERM;
}

// Returns the size of a regular file, -1 when there is none.
int64_t FileSize(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

// The "file:" URI of a path, so that query parameters can follow it.
std::string FileUri(const std::string& path) {
  std::string uri = path.rfind('/', 0) == 0 ? "file://" : "file:";
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[static_cast<unsigned char>(c) >> 4];
      uri += kHex[static_cast<unsigned char>(c) & 0xF];
    } else {
      uri += c;
    }
  }
  return uri;
}

// Makes a rename in the folder of `path` durable.
void SyncFolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : path.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

std::unique_ptr<Database> Database::Open(const std::string& path,
                                         int32_t* result) {
  const auto start = std::chrono::steady_clock::now();
  for (int attempt = 0;; ++attempt) {
    Attempt outcome = TryOpen(path, false, "", result);
    if (outcome.db) return std::move(outcome.db);
    if (outcome.cannot_write && FileSize(path) >= 0) {
      // Read-only. With no WAL in use beside it, the hive is read as it lies
      // and nothing is made next to it: a shared-memory file made now would
      // carry the hive's read-only mode and keep refusing writes once the
      // hive is writable again. With a WAL in use, readers share its
      // shared-memory file; where even that cannot be made (a read-only
      // folder or medium), nobody writes the hive either.
      bool wal_in_use =
          FileSize(path + "-shm") >= 0 || FileSize(path + "-wal") > 0;
      if (wal_in_use) {
        outcome = TryOpen(path, true, "?mode=ro", result);
        if (outcome.db) return std::move(outcome.db);
      }
      if (!wal_in_use || outcome.cannot_write) {
        outcome = TryOpen(path, true, "?immutable=1", result);
        if (outcome.db) return std::move(outcome.db);
      }
    }
    if (!outcome.busy) return nullptr;
    if (!WaitBeforeRetry(attempt, start)) {
      *result = kRegBusy;
      return nullptr;
    }
  }
}

Database::Attempt Database::TryOpen(const std::string& path, bool read_only,
                                    const char* uri_parameters,
                                    int32_t* result) {
  Attempt outcome;
  sqlite3* raw = nullptr;
  int rc = read_only
               ? sqlite3_open_v2((FileUri(path) + uri_parameters).c_str(), &raw,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_URI |
                                     SQLITE_OPEN_NOMUTEX,
                                 nullptr)
               : sqlite3_open_v2(path.c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE |
                                     SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  // sqlite3_open_v2 hands out a connection even when it fails; it must be
  // closed all the same.
  std::unique_ptr<Database> db(new Database(raw));
  db->read_only_ = read_only;
  *result = kRegIoFailed;
  if (rc != SQLITE_OK) {
    *result = ResultOfFailure(rc & 0xFF);
    outcome.cannot_write = IsCannotWriteCode(rc & 0xFF);
    return outcome;
  }
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  // A write-protected file opens for reading only, without a word.
  if (!read_only && sqlite3_db_readonly(raw, "main") == 1) {
    outcome.cannot_write = true;
    return outcome;
  }
  try {
    if (read_only) {
      if (db->Inspect() != Kind::kHive) return outcome;
    } else {
      db->SetUp();
    }
  } catch (const SqlFailure& failure) {
    db->RollbackQuietly();
    *result = ResultOfFailure(failure.code);
    outcome.busy = IsBusyCode(failure.code);
    outcome.cannot_write = IsCannotWriteCode(failure.code);
    return outcome;
  }
  *result = kRegSuccess;
  outcome.db = std::move(db);
  return outcome;
}

Database::Database(sqlite3* db) : db_(db) {
  static std::atomic<uint64_t> connections{0};
  serial_ = ++connections;
}

Database::~Database() {
  cache_.clear();  // statements go before the connection
  sqlite3_close_v2(db_);
}

void Database::Checkpoint() {
  if (read_only_) return;
  // No busy handler meanwhile: where another connection is in the way, the
  // checkpoint copies what it can at once rather than wait.
  sqlite3_busy_timeout(db_, 0);
  sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                            nullptr);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
}

int32_t Database::BackupTo(const std::string& path) {
  // Never over the hive itself: its connections would go on writing to a
  // file that is no longer there.
  struct stat hive {};
  struct stat target {};
  const char* hive_path = sqlite3_db_filename(db_, "main");
  if (hive_path != nullptr && stat(hive_path, &hive) == 0 &&
      stat(path.c_str(), &target) == 0 && hive.st_dev == target.st_dev &&
      hive.st_ino == target.st_ino) {
    return kRegInvalidParameter;
  }
  const std::string temp = path + ".partial";
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    unlink((temp + suffix).c_str());
  }
  sqlite3* copy = nullptr;
  int rc = sqlite3_open_v2(
      temp.c_str(), &copy,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
      nullptr);
  int32_t result = kRegIoFailed;
  if (rc == SQLITE_OK) {
    const auto start = std::chrono::steady_clock::now();
    for (int attempt = 0;; ++attempt) {
      // One step copies every page inside one read transaction of the hive:
      // a snapshot, whatever other connections commit meanwhile.
      sqlite3_backup* backup = sqlite3_backup_init(copy, "main", db_, "main");
      if (backup == nullptr) {
        result = ResultOfFailure(sqlite3_errcode(copy) & 0xFF);
        break;
      }
      rc = sqlite3_backup_step(backup, -1);
      int finish = sqlite3_backup_finish(backup);
      if (rc == SQLITE_DONE && finish == SQLITE_OK) {
        result = kRegSuccess;
        break;
      }
      int code = (rc == SQLITE_DONE ? finish : rc) & 0xFF;
      if (!IsBusyCode(code)) {
        result = ResultOfFailure(code);
        break;
      }
      if (!WaitBeforeRetry(attempt, start)) {
        result = kRegBusy;
        break;
      }
    }
  } else {
    result = ResultOfFailure(rc & 0xFF);
  }
  sqlite3_close_v2(copy);
  if (result == kRegSuccess) {
    // A journal of the file being replaced would be played onto the copy.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      unlink((path + suffix).c_str());
    }
    if (rename(temp.c_str(), path.c_str()) == 0) {
      SyncFolderOf(path);
    } else {
      result = kRegIoFailed;
    }
  }
  if (result != kRegSuccess) unlink(temp.c_str());
  return result;
}

Database::Kind Database::Inspect() {
  int64_t application_id = 0;
  int64_t version = 0;
  int64_t objects = 0;
  {
    StatementUse q(Prepare("PRAGMA application_id"));
    if (q->Step()) application_id = q->ColumnInt(0);
  }
  {
    StatementUse q(Prepare("PRAGMA user_version"));
    if (q->Step()) version = q->ColumnInt(0);
  }
  {
    StatementUse q(Prepare("SELECT count(*) FROM sqlite_schema"));
    if (q->Step()) objects = q->ColumnInt(0);
  }
  if (application_id == kApplicationId && version <= kSchemaVersion) {
    return Kind::kHive;
  }
  return application_id == 0 && objects == 0 ? Kind::kBlank : Kind::kForeign;
}

void Database::SetUp() {
  // Look before changing anything: another program's database named as the
  // store by mistake must come out of this exactly as it was, journal mode
  // included.
  Kind kind = Inspect();
  if (kind == Kind::kForeign) Fail(SQLITE_NOTADB);
  // The WAL lets readers go on while one process writes, and a commit is one
  // append: a process killed mid-write leaves at most an uncommitted tail
  // that the next opener discards. synchronous=FULL syncs the WAL at every
  // commit, so a call that returned 0 survives a power cut too.
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=FULL");
  if (kind == Kind::kHive) return;
  // A new file: set it up under the write lock, looking again, for another
  // process may have done so meanwhile.
  Exec("BEGIN IMMEDIATE");
  kind = Inspect();
  if (kind == Kind::kForeign) Fail(SQLITE_NOTADB);
  if (kind == Kind::kBlank) {
    Exec(kSchema);
    Exec(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
    Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
  }
  Exec("COMMIT");
}

void Database::Exec(const char* sql) {
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
}

void Database::RollbackQuietly() {
  if (db_ != nullptr && sqlite3_get_autocommit(db_) == 0) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

Statement& Database::Prepare(std::string_view sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) return *it->second;
  auto statement = std::make_unique<Statement>(db_, sql);
  Statement& ref = *statement;
  cache_.emplace(sql, std::move(statement));
  return ref;
}

bool Database::KeyExists(int64_t id) {
  StatementUse q(Prepare("SELECT 1 FROM reg_key WHERE id = ?1"));
  q->BindInt(1, id);
  return q->Step();
}

std::optional<int64_t> Database::FindChild(int64_t parent,
                                           std::string_view fold) {
  StatementUse q(
      Prepare("SELECT id FROM reg_key WHERE parent = ?1 AND fold = ?2"));
  q->BindInt(1, parent);
  q->BindBlob(2, fold);
  if (!q->Step()) return std::nullopt;
  return q->ColumnInt(0);
}

int64_t Database::AddChild(int64_t parent, std::string_view name,
                           std::string_view fold, std::string_view class_text,
                           uint32_t options) {
  StatementUse q(
      Prepare("INSERT INTO reg_key(parent, name, fold, class, options) "
              "VALUES(?1, ?2, ?3, ?4, ?5)"));
  q->BindInt(1, parent);
  q->BindBlob(2, name);
  q->BindBlob(3, fold);
  q->BindBlob(4, class_text);
  q->BindInt(5, options);
  q->Step();
  return sqlite3_last_insert_rowid(db_);
}

bool Database::HasChildren(int64_t id) {
  StatementUse q(Prepare("SELECT 1 FROM reg_key WHERE parent = ?1 LIMIT 1"));
  q->BindInt(1, id);
  return q->Step();
}

void Database::DeleteKey(int64_t id) {
  {
    StatementUse q(Prepare("DELETE FROM reg_value WHERE key = ?1"));
    q->BindInt(1, id);
    q->Step();
  }
  StatementUse q(Prepare("DELETE FROM reg_key WHERE id = ?1"));
  q->BindInt(1, id);
  q->Step();
}

// The three queries that reach one row of a key's values or children, each
// the same selection with its own ending.
struct CursorQueries {
  explicit CursorQueries(std::string_view select)
      : after(std::string(select) + " AND id > ?2 ORDER BY id LIMIT 1"),
        same(std::string(select) + " AND id >= ?2 ORDER BY id LIMIT 1"),
        counted(std::string(select) + " ORDER BY id LIMIT 1 OFFSET ?2") {}
  // Kept for the life of the program: the statement cache holds views of
  // them.
  std::string after;
  std::string same;
  std::string counted;
};

namespace {

// Columns: id, name, type, size, data (data only when ?3 is true, so that a
// size query does not read a large value).
ValueRow ReadValueRow(Statement& q, bool with_data) {
  ValueRow row;
  row.id = q.ColumnInt(0);
  row.name = q.ColumnBlob(1);
  row.type = static_cast<uint32_t>(q.ColumnInt(2));
  row.size = static_cast<uint32_t>(q.ColumnInt(3));
  if (with_data) row.data = q.ColumnBlob(4);
  return row;
}

// Chooses how an enumeration reaches row `index`: the row after the cursor's
// (the usual walk), the cursor's own row again, or a counted offset, which
// is the only choice once the hive changed after the cursor was taken.
// Returns the query and its second parameter.
std::pair<std::string_view, int64_t> PickCursorQuery(
    uint32_t index, const EnumCursor& cursor, const ChangeStamp& now,
    const CursorQueries& queries) {
  bool known = cursor.row_id >= 0 && index > 0 && cursor.stamp == now;
  if (known && index == cursor.index + 1) return {queries.after, cursor.row_id};
  if (known && index == cursor.index) return {queries.same, cursor.row_id};
  return {queries.counted, index};
}

KeyRow ReadKeyRow(Statement& q, bool /*with_data*/) {
  return KeyRow{q.ColumnInt(0), q.ColumnBlob(1)};
}

}  // namespace

std::optional<ValueRow> Database::FindValue(int64_t key, std::string_view fold,
                                            bool with_data) {
  StatementUse q(
      Prepare("SELECT id, name, type, length(data), "
              "CASE WHEN ?3 THEN data ELSE x'' END "
              "FROM reg_value WHERE key = ?1 AND fold = ?2"));
  q->BindInt(1, key);
  q->BindBlob(2, fold);
  q->BindInt(3, with_data ? 1 : 0);
  if (!q->Step()) return std::nullopt;
  return ReadValueRow(*q, with_data);
}

void Database::SetValue(int64_t key, std::string_view name,
                        std::string_view fold, uint32_t type,
                        std::string_view data) {
  // The upsert keeps the row, hence the name's first spelling and the
  // value's place in the enumeration order.
  StatementUse q(
      Prepare("INSERT INTO reg_value(key, name, fold, type, data) "
              "VALUES(?1, ?2, ?3, ?4, ?5) "
              "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, "
              "data = excluded.data"));
  q->BindInt(1, key);
  q->BindBlob(2, name);
  q->BindBlob(3, fold);
  q->BindInt(4, type);
  q->BindBlob(5, data);
  q->Step();
}

bool Database::DeleteValue(int64_t key, std::string_view fold) {
  StatementUse q(Prepare("DELETE FROM reg_value WHERE key = ?1 AND fold = ?2"));
  q->BindInt(1, key);
  q->BindBlob(2, fold);
  q->Step();
  return sqlite3_changes(db_) > 0;
}

ChangeStamp Database::Stamp() {
  ChangeStamp stamp{serial_, 0, sqlite3_total_changes64(db_)};
  StatementUse q(Prepare("PRAGMA data_version"));
  if (q->Step()) stamp.data_version = q->ColumnInt(0);
  return stamp;
}

template <typename Row>
std::optional<Row> Database::RowAt(const CursorQueries& queries, int64_t key,
                                   uint32_t index, const EnumCursor& cursor,
                                   std::optional<bool> with_data,
                                   Row (*read)(Statement&, bool),
                                   EnumCursor* next) {
  const ChangeStamp now = Stamp();
  auto [sql, second] = PickCursorQuery(index, cursor, now, queries);
  StatementUse q(Prepare(sql));
  q->BindInt(1, key);
  q->BindInt(2, second);
  if (with_data) q->BindInt(3, *with_data ? 1 : 0);
  if (!q->Step()) return std::nullopt;
  Row row = read(*q, with_data.value_or(false));
  *next = EnumCursor{index, row.id, now};
  return row;
}

std::optional<ValueRow> Database::ValueAt(int64_t key, uint32_t index,
                                          const EnumCursor& cursor,
                                          bool with_data, EnumCursor* next) {
  static const CursorQueries kValues(
      "SELECT id, name, type, length(data), "
      "CASE WHEN ?3 THEN data ELSE x'' END "
      "FROM reg_value WHERE key = ?1");
  return RowAt(kValues, key, index, cursor, with_data, &ReadValueRow, next);
}

std::optional<KeyRow> Database::ChildAt(int64_t key, uint32_t index,
                                        const EnumCursor& cursor,
                                        EnumCursor* next) {
  static const CursorQueries kChildren(
      "SELECT id, name FROM reg_key WHERE parent = ?1");
  return RowAt(kChildren, key, index, cursor, std::nullopt, &ReadKeyRow, next);
}

}  // namespace vg::platform::registry_internal
