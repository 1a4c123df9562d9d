// The SQLite side of the registry store: one connection to a hive file, its
// schema, the retry of transactions while another process holds the lock,
// and the queries on keys and values. Internal to the registry module; the
// only code of the project that talks to SQLite.
//
// Schema: reg_key(id, parent, name, fold, class, options) holds the tree;
// the five roots have fixed ids (root handle's low byte + 1) and parent 0.
// Key ids come from AUTOINCREMENT so that a deleted key's id is never given
// to a new key: a handle on a deleted key can only ever see "deleted".
// reg_value(id, key, name, fold, type, data) holds the values; `id` orders
// the enumeration. Names and data are BLOBs, byte-exact.
#ifndef VG_REGISTRY_INTERNAL_REGISTRY_DB_H_
#define VG_REGISTRY_INTERNAL_REGISTRY_DB_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "registry/registry_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vg::platform::registry_internal {

// A failed SQLite call, thrown inside the store and turned into a result
// code at the transaction boundary; `code` is the primary SQLite code.
struct SqlFailure {
  int code;
};

// Returns true for the codes that mean "another connection holds a lock,
// try again".
bool IsBusyCode(int code);

// Returns true for the code of a change tried on a read-only connection.
bool IsReadOnlyCode(int code);

// Returns the result code for a SQLite failure that is not a lock.
int32_t ResultOfFailure(int code);

// Sleeps a little before attempt `attempt` + 1 of a call that began at
// `start`; returns false once the call has waited long enough.
bool WaitBeforeRetry(int attempt, std::chrono::steady_clock::time_point start);

// One prepared statement, kept for the life of the connection.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void BindInt(int index, int64_t value);
  // Binds `bytes` as a BLOB (an empty view as a zero-length BLOB, not NULL).
  void BindBlob(int index, std::string_view bytes);
  // Steps once; returns true when a row is ready.
  bool Step();
  int64_t ColumnInt(int column);
  std::string ColumnBlob(int column);
  // Resets the statement and clears its bindings.
  void Reset();

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when it goes out of scope, so that no statement keeps
// a read snapshot open past its query.
class StatementUse {
 public:
  explicit StatementUse(Statement& statement) : statement_(statement) {}
  ~StatementUse() { statement_.Reset(); }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  Statement* operator->() { return &statement_; }
  Statement& operator*() { return statement_; }

 private:
  Statement& statement_;
};

struct CursorQueries;

struct ValueRow {
  int64_t id = 0;
  std::string name;
  uint32_t type = 0;
  std::string data;   // empty when only the size was asked for
  uint32_t size = 0;  // data size in bytes
};

struct KeyRow {
  int64_t id = 0;
  std::string name;
};

// What the hive looked like at one moment, as far as one connection can
// tell: equal stamps mean no key or value was added, changed or removed in
// between, by this connection or any other.
struct ChangeStamp {
  uint64_t connection = 0;   // which connection took it (one per open)
  int64_t data_version = 0;  // moves when another connection commits
  int64_t own_changes = 0;   // rows this connection has changed
  bool operator==(const ChangeStamp&) const = default;
};

// Where the last enumeration call of a handle stopped, so that the next
// index continues from that row instead of counting from the start. It is
// used only while the hive is as it was then: an index always means the
// position in the list as it is now.
struct EnumCursor {
  uint32_t index = 0;
  int64_t row_id = -1;  // -1: no position
  ChangeStamp stamp;
};

class Database {
 public:
  // Opens (creating when missing) the hive at `path`, switches it to WAL
  // with synchronous=FULL and sets up the schema of a new file. A file that
  // is neither a hive nor empty is refused untouched. A hive that cannot be
  // written (write-protected, in a read-only folder or medium) is opened
  // read-only. Returns nullptr and sets `*result` (kRegBusy, kRegIoFailed)
  // when that fails.
  static std::unique_ptr<Database> Open(const std::string& path,
                                        int32_t* result);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs `body` (returning a result code) inside one transaction: BEGIN
  // IMMEDIATE when `write`, so that a read-then-write never fails half way
  // on another writer. Commits when `body` returns 0, rolls back otherwise.
  // While another connection holds the lock the whole body is run again,
  // for up to a minute; `body` must therefore leave its effects outside the
  // database for after the call. Returns the body's result, kRegBusy when
  // the lock never came free, kRegIoFailed on any other SQLite failure, and
  // kRegOutOfMemory when memory ran out.
  // On a read-only hive the transaction is a read one, and the first change
  // the body tries ends it with kRegAccessDenied.
  template <class Body>
  int32_t Transact(bool write, Body&& body) {
    const auto start = std::chrono::steady_clock::now();
    for (int attempt = 0;; ++attempt) {
      try {
        Exec(write && !read_only_ ? "BEGIN IMMEDIATE" : "BEGIN");
        int32_t result = body();
        Exec(result == kRegSuccess ? "COMMIT" : "ROLLBACK");
        return result;
      } catch (const SqlFailure& failure) {
        RollbackQuietly();
        if (read_only_ && IsReadOnlyCode(failure.code)) {
          return kRegAccessDenied;
        }
        if (!IsBusyCode(failure.code)) return ResultOfFailure(failure.code);
        if (!WaitBeforeRetry(attempt, start)) return kRegBusy;
      } catch (const std::bad_alloc&) {
        RollbackQuietly();
        return kRegOutOfMemory;
      }
    }
  }

  // Copies what the WAL holds into the hive file and empties the WAL, as far
  // as other connections allow without waiting for them (a reader of an
  // older snapshot keeps the frames it needs). Never fails: what is not
  // copied now stays safe in the WAL.
  void Checkpoint();

  // Writes a consistent copy of the hive to `path` (aside, then renamed
  // over it). Returns a result code.
  int32_t BackupTo(const std::string& path);

  // Queries, valid inside Transact only. Every one throws SqlFailure.
  bool KeyExists(int64_t id);
  std::optional<int64_t> FindChild(int64_t parent, std::string_view fold);
  int64_t AddChild(int64_t parent, std::string_view name, std::string_view fold,
                   std::string_view class_text, uint32_t options);
  bool HasChildren(int64_t id);
  // Deletes a key and its values (the caller checks it has no sub-keys).
  void DeleteKey(int64_t id);
  // Reads a value; with `with_data` false only its size is read.
  std::optional<ValueRow> FindValue(int64_t key, std::string_view fold,
                                    bool with_data);
  void SetValue(int64_t key, std::string_view name, std::string_view fold,
                uint32_t type, std::string_view data);
  // Returns false when there was no such value.
  bool DeleteValue(int64_t key, std::string_view fold);
  // Returns the value number `index` of `key` in enumeration order, using
  // `cursor` to skip the rows before it when the hive has not changed since
  // it was taken; `*next` receives the cursor of the row returned.
  std::optional<ValueRow> ValueAt(int64_t key, uint32_t index,
                                  const EnumCursor& cursor, bool with_data,
                                  EnumCursor* next);
  std::optional<KeyRow> ChildAt(int64_t key, uint32_t index,
                                const EnumCursor& cursor, EnumCursor* next);

 private:
  // What a file holds: a hive of ours, nothing yet, or something else.
  enum class Kind { kHive, kBlank, kForeign };

  // One try at opening: the connection, or why there is none.
  struct Attempt {
    std::unique_ptr<Database> db;
    bool busy = false;          // another process held a lock: try again
    bool cannot_write = false;  // the file or its folder cannot be written
  };

  // Opens `path` read-write (set up as SetUp does), or read-only through a
  // "file:" URI with `uri_parameters` (a hive as it is, nothing changed).
  static Attempt TryOpen(const std::string& path, bool read_only,
                         const char* uri_parameters, int32_t* result);
  explicit Database(sqlite3* db);
  void Exec(const char* sql);
  void RollbackQuietly();
  Kind Inspect();
  ChangeStamp Stamp();
  // Checks the file is a hive or blank before changing anything in it, then
  // switches it to WAL and, when blank, makes it a hive.
  void SetUp();
  Statement& Prepare(std::string_view sql);
  // The row `index` of one of `queries`' enumerations of `key`, read by
  // `read`; `with_data`, when given, is the queries' third parameter.
  template <typename Row>
  std::optional<Row> RowAt(const CursorQueries& queries, int64_t key,
                           uint32_t index, const EnumCursor& cursor,
                           std::optional<bool> with_data,
                           Row (*read)(Statement&, bool), EnumCursor* next);

  sqlite3* db_;
  uint64_t serial_;  // tells this connection's stamps from another's
  bool read_only_ = false;
  std::unordered_map<std::string_view, std::unique_ptr<Statement>> cache_;
};

}  // namespace vg::platform::registry_internal

#endif  // VG_REGISTRY_INTERNAL_REGISTRY_DB_H_
