#include "registry/registry_store.h"

#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "registry/internal/registry_db.h"
#include "registry/internal/registry_names.h"

namespace vg::platform {
namespace {

using registry_internal::Database;
using registry_internal::EnumCursor;
using registry_internal::FoldName;
using registry_internal::KeyRow;
using registry_internal::NameLengthChars;
using registry_internal::SplitKeyPath;
using registry_internal::ValueRow;

// Handle numbers start above the small integers that code tends to pass by
// mistake, and never reach the predefined roots (negative as int32).
constexpr HKEY kFirstHandle = 0x100;
constexpr HKEY kLastHandle = 0x7FFFFFFF;

struct KeyHandle {
  int64_t key_id = 0;
  uint32_t rights = 0;
  EnumCursor values;
  EnumCursor keys;
};

// Everything the Reg* functions share, behind one mutex. Allocated once and
// never destroyed, so that a RegistryKey closed by a static destructor still
// finds it.
struct StoreState {
  std::mutex mutex;
  std::string path;  // "" means the default path
  std::unique_ptr<Database> db;
  std::unordered_map<HKEY, KeyHandle> handles;
  std::array<KeyHandle, 6> roots;  // by the root handle's low byte
  HKEY next_handle = kFirstHandle;
};

StoreState& State() {
  static StoreState* state = new StoreState;
  return *state;
}

bool IsRootHandle(HKEY hkey) {
  return hkey == HKEY_CLASSES_ROOT || hkey == HKEY_CURRENT_USER ||
         hkey == HKEY_LOCAL_MACHINE || hkey == HKEY_USERS ||
         hkey == HKEY_CURRENT_CONFIG;
}

// Root keys have the ids the schema gives them: the handle's low byte + 1.
bool IsRootKeyId(int64_t id) {
  return id == 1 || id == 2 || id == 3 || id == 4 || id == 6;
}

void ResetRoots(StoreState& s) {
  for (size_t i = 0; i < s.roots.size(); ++i) {
    s.roots[i] = KeyHandle{static_cast<int64_t>(i) + 1, KEY_ALL_ACCESS, {}, {}};
  }
}

KeyHandle* Lookup(StoreState& s, HKEY hkey) {
  if (IsRootHandle(hkey)) {
    KeyHandle& root = s.roots[static_cast<uint32_t>(hkey) & 0xFF];
    if (root.key_id == 0) ResetRoots(s);
    return &root;
  }
  auto it = s.handles.find(hkey);
  return it == s.handles.end() ? nullptr : &it->second;
}

HKEY Allocate(StoreState& s, int64_t key_id, uint32_t rights) {
  auto advance = [&s] {
    s.next_handle =
        s.next_handle == kLastHandle ? kFirstHandle : s.next_handle + 1;
  };
  while (s.handles.count(s.next_handle) != 0) advance();
  HKEY hkey = s.next_handle;
  advance();
  s.handles.emplace(hkey, KeyHandle{key_id, rights, {}, {}});
  return hkey;
}

uint32_t MapRights(uint32_t sam) {
  if (sam & GENERIC_READ) sam |= KEY_READ;
  if (sam & GENERIC_WRITE) sam |= KEY_WRITE;
  if (sam & GENERIC_EXECUTE) sam |= KEY_EXECUTE;
  if (sam & (GENERIC_ALL | MAXIMUM_ALLOWED)) sam |= KEY_ALL_ACCESS;
  return sam;
}

// Creates the missing folders of `dir` with mode 0700, as the XDG base
// directory rules ask for.
void MakeFolders(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string prefix = dir.substr(0, slash);
    if (!prefix.empty()) mkdir(prefix.c_str(), 0700);
    if (slash == std::string::npos) break;
  }
}

// Closes the hive around a fork: an SQLite connection must never be used on
// both sides of one. Handles stay (they name keys, not connections) and the
// next call on either side opens the hive again.
void PrepareFork() {
  StoreState& s = State();
  s.mutex.lock();
  s.db.reset();
}
void FinishFork() { State().mutex.unlock(); }

// Copies what the WAL holds into the hive file and closes the connection,
// so that the file alone holds every write once the process has ended the
// usual way (a copy of it is then a whole store).
void CloseAtExit() {
  StoreState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.db) s.db->Checkpoint();
  s.db.reset();
}

int32_t EnsureOpen(StoreState& s) {
  if (s.db) return kRegSuccess;
  static std::once_flag process_hooks;
  std::call_once(process_hooks, [] {
    pthread_atfork(PrepareFork, FinishFork, FinishFork);
    std::atexit(CloseAtExit);
  });
  std::string path = s.path;
  if (path.empty()) {
    path = DefaultRegistryStorePath();
    MakeFolders(path.substr(0, path.find_last_of('/')));
  }
  int32_t result = kRegIoFailed;
  s.db = Database::Open(path, &result);
  return s.db ? kRegSuccess : result;
}

// Validates the handle and opens the hive; on success `*entry` is the
// handle's record (stable while the mutex is held).
int32_t Begin(StoreState& s, HKEY hkey, KeyHandle** entry) {
  *entry = hkey == 0 ? nullptr : Lookup(s, hkey);
  if (*entry == nullptr) return kRegInvalidHandle;
  return EnsureOpen(s);
}

// Runs `call(s, entry)` under the store's lock once `hkey` is found to be a
// handle of the open store whose rights hold every bit of `rights`.
template <class Call>
int32_t WithKey(HKEY hkey, uint32_t rights, Call&& call) {
  StoreState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  KeyHandle* entry = nullptr;
  if (int32_t r = Begin(s, hkey, &entry); r != kRegSuccess) return r;
  if ((entry->rights & rights) != rights) return kRegAccessDenied;
  return call(s, entry);
}

// Runs one Reg* call, turning an exception that escapes it into a code: the
// functions are called like C functions and must not throw.
template <class Call>
int32_t Guarded(Call&& call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return kRegOutOfMemory;
  } catch (const std::exception&) {
    return kRegIoFailed;
  }
}

std::string_view OrEmpty(const char* text) {
  return text == nullptr ? std::string_view() : std::string_view(text);
}

// Walks `folds` down from the key `from` into *found: kRegKeyDeleted when
// `from` is gone, kRegFileNotFound when a step is missing. In a transaction.
int32_t FindKeyPath(Database& db, int64_t from,
                    const std::vector<std::string>& folds, int64_t* found) {
  if (!db.KeyExists(from)) return kRegKeyDeleted;
  for (const std::string& fold : folds) {
    auto child = db.FindChild(from, fold);
    if (!child) return kRegFileNotFound;
    from = *child;
  }
  *found = from;
  return kRegSuccess;
}

// Returns the folded form of every element of a key path.
std::vector<std::string> FoldAll(const std::vector<std::string_view>& parts) {
  std::vector<std::string> folds;
  folds.reserve(parts.size());
  for (std::string_view part : parts) folds.push_back(FoldName(part));
  return folds;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  std::array<char, 4096> buffer{};
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/tmp";
}

}  // namespace

const char* RegResultName(int32_t result) {
  switch (result) {
    case kRegSuccess:
      return "ERROR_SUCCESS";
    case kRegFileNotFound:
      return "ERROR_FILE_NOT_FOUND";
    case kRegAccessDenied:
      return "ERROR_ACCESS_DENIED";
    case kRegInvalidHandle:
      return "ERROR_INVALID_HANDLE";
    case kRegOutOfMemory:
      return "ERROR_OUTOFMEMORY";
    case kRegInvalidParameter:
      return "ERROR_INVALID_PARAMETER";
    case kRegBusy:
      return "ERROR_BUSY";
    case kRegMoreData:
      return "ERROR_MORE_DATA";
    case kRegNoMoreItems:
      return "ERROR_NO_MORE_ITEMS";
    case kRegIoFailed:
      return "ERROR_REGISTRY_IO_FAILED";
    case kRegKeyDeleted:
      return "ERROR_KEY_DELETED";
    default:
      return "";
  }
}

const char* RegResultMessage(int32_t result) {
  switch (result) {
    case kRegSuccess:
      return "The operation completed successfully.";
    case kRegFileNotFound:
      return "The system was unable to find the specified registry key or "
             "value.";
    case kRegAccessDenied:
      return "Access is denied.";
    case kRegInvalidHandle:
      return "The handle is invalid.";
    case kRegOutOfMemory:
      return "Not enough memory resources are available to complete this "
             "operation.";
    case kRegInvalidParameter:
      return "The parameter is incorrect.";
    case kRegBusy:
      return "The registry store is locked by another process.";
    case kRegMoreData:
      return "More data is available.";
    case kRegNoMoreItems:
      return "No more data is available.";
    case kRegIoFailed:
      return "The registry store could not be opened, read or written.";
    case kRegKeyDeleted:
      return "Illegal operation attempted on a registry key that has been "
             "marked for deletion.";
    default:
      return "Unknown registry error.";
  }
}

int32_t RegCreateKeyExA(HKEY hkey, const char* sub_key, uint32_t reserved,
                        const char* class_text, uint32_t options,
                        uint32_t sam_desired,
                        const SECURITY_ATTRIBUTES* /*security*/, HKEY* result,
                        uint32_t* disposition) {
  if (result == nullptr) return kRegInvalidParameter;
  *result = 0;
  return Guarded([&]() -> int32_t {
    if (sub_key == nullptr || reserved != 0 ||
        (options & ~REG_OPTION_VOLATILE) != 0) {
      return kRegInvalidParameter;
    }
    auto parts = SplitKeyPath(sub_key);
    if (!parts) return kRegInvalidParameter;
    const std::vector<std::string> folds = FoldAll(*parts);
    std::string_view class_view = OrEmpty(class_text);

    auto on_key = [&](StoreState& s, KeyHandle* base) -> int32_t {
      int64_t key_id = 0;
      bool created = false;
      int32_t r = s.db->Transact(true, [&]() -> int32_t {
        created = false;
        int64_t current = base->key_id;
        if (!s.db->KeyExists(current)) return kRegKeyDeleted;
        for (size_t i = 0; i < parts->size(); ++i) {
          if (auto child = s.db->FindChild(current, folds[i])) {
            current = *child;
            continue;
          }
          if ((base->rights & KEY_CREATE_SUB_KEY) == 0) return kRegAccessDenied;
          bool last = i + 1 == parts->size();
          current =
              s.db->AddChild(current, (*parts)[i], folds[i],
                             last ? class_view : std::string_view(), options);
          created = true;
        }
        key_id = current;
        return kRegSuccess;
      });
      if (r != kRegSuccess) return r;
      *result = Allocate(s, key_id, MapRights(sam_desired));
      if (disposition != nullptr) {
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
      }
      return kRegSuccess;
    };
    return WithKey(hkey, 0, on_key);
  });
}

int32_t RegOpenKeyExA(HKEY hkey, const char* sub_key, uint32_t options,
                      uint32_t sam_desired, HKEY* result) {
  if (result == nullptr) return kRegInvalidParameter;
  *result = 0;
  return Guarded([&]() -> int32_t {
    if ((options & ~REG_OPTION_OPEN_LINK) != 0) return kRegInvalidParameter;
    auto parts = SplitKeyPath(OrEmpty(sub_key));
    if (!parts) return kRegInvalidParameter;
    const std::vector<std::string> folds = FoldAll(*parts);

    auto on_key = [&](StoreState& s, KeyHandle* base) -> int32_t {
      int64_t key_id = 0;
      int32_t r = s.db->Transact(false, [&]() -> int32_t {
        return FindKeyPath(*s.db, base->key_id, folds, &key_id);
      });
      if (r != kRegSuccess) return r;
      *result = Allocate(s, key_id, MapRights(sam_desired));
      return kRegSuccess;
    };
    return WithKey(hkey, 0, on_key);
  });
}

int32_t RegCloseKey(HKEY hkey) {
  return Guarded([&]() -> int32_t {
    StoreState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (IsRootHandle(hkey)) return kRegSuccess;
    if (s.handles.erase(hkey) != 1) return kRegInvalidHandle;
    // The last handle closed: the writes so far go from the WAL into the
    // hive file, for whoever copies it next.
    if (s.handles.empty() && s.db) s.db->Checkpoint();
    return kRegSuccess;
  });
}

int32_t RegQueryValueExA(HKEY hkey, const char* value_name, uint32_t* reserved,
                         uint32_t* type, uint8_t* data, uint32_t* size_bytes) {
  return Guarded([&]() -> int32_t {
    if (reserved != nullptr) return kRegInvalidParameter;
    if (data != nullptr && size_bytes == nullptr) return kRegInvalidParameter;
    // Every input is read before any output is written: ported callers pass
    // one variable as both `type` and `size_bytes`.
    const uint32_t capacity = size_bytes != nullptr ? *size_bytes : 0;
    std::string fold = FoldName(OrEmpty(value_name));

    auto on_key = [&](StoreState& s, KeyHandle* entry) -> int32_t {
      std::optional<ValueRow> row;
      int32_t r = s.db->Transact(false, [&]() -> int32_t {
        if (!s.db->KeyExists(entry->key_id)) return kRegKeyDeleted;
        row = s.db->FindValue(entry->key_id, fold, false);
        if (!row) return kRegFileNotFound;
        // Read the bytes only when they will fit the caller's buffer.
        if (data != nullptr && row->size <= capacity) {
          row = s.db->FindValue(entry->key_id, fold, true);
          if (!row) return kRegFileNotFound;
        }
        return kRegSuccess;
      });
      // No such value: a size query (no buffer) learns that there is nothing
      // to read; a read keeps its buffer size, as the registry does (Wine's
      // conformance tests pin both).
      if (r == kRegFileNotFound && data == nullptr && size_bytes != nullptr) {
        *size_bytes = 0;
      }
      if (r != kRegSuccess) return r;
      if (type != nullptr) *type = row->type;
      if (data != nullptr) {
        if (row->size > capacity) {
          *size_bytes = row->size;
          return kRegMoreData;
        }
        // Raw bytes: a text value carries its own terminator, if any.
        std::copy(row->data.begin(), row->data.end(), data);
      }
      if (size_bytes != nullptr) *size_bytes = row->size;
      return kRegSuccess;
    };
    return WithKey(hkey, KEY_QUERY_VALUE, on_key);
  });
}

int32_t RegSetValueExA(HKEY hkey, const char* value_name, uint32_t reserved,
                       uint32_t type, const uint8_t* data,
                       uint32_t size_bytes) {
  return Guarded([&]() -> int32_t {
    if (reserved != 0) return kRegInvalidParameter;
    if (data == nullptr && size_bytes != 0) return kRegInvalidParameter;
    if (size_bytes > kRegMaxDataBytes) return kRegInvalidParameter;
    std::string_view name = OrEmpty(value_name);
    if (NameLengthChars(name) > kRegMaxValueNameChars) {
      return kRegInvalidParameter;
    }
    std::string fold = FoldName(name);
    std::string_view bytes(reinterpret_cast<const char*>(data), size_bytes);

    auto on_key = [&](StoreState& s, KeyHandle* entry) -> int32_t {
      return s.db->Transact(true, [&]() -> int32_t {
        if (!s.db->KeyExists(entry->key_id)) return kRegKeyDeleted;
        s.db->SetValue(entry->key_id, name, fold, type, bytes);
        return kRegSuccess;
      });
    };
    return WithKey(hkey, KEY_SET_VALUE, on_key);
  });
}

int32_t RegEnumValueA(HKEY hkey, uint32_t index, char* name,
                      uint32_t* name_chars, uint32_t* reserved, uint32_t* type,
                      uint8_t* data, uint32_t* size_bytes) {
  return Guarded([&]() -> int32_t {
    if (name == nullptr || name_chars == nullptr || reserved != nullptr) {
      return kRegInvalidParameter;
    }
    if (data != nullptr && size_bytes == nullptr) return kRegInvalidParameter;
    // Read before any output is written, as in RegQueryValueExA.
    const uint32_t name_capacity = *name_chars;
    const uint32_t capacity = size_bytes != nullptr ? *size_bytes : 0;

    auto on_key = [&](StoreState& s, KeyHandle* entry) -> int32_t {
      std::optional<ValueRow> row;
      EnumCursor next;
      int32_t r = s.db->Transact(false, [&]() -> int32_t {
        if (!s.db->KeyExists(entry->key_id)) return kRegKeyDeleted;
        row = s.db->ValueAt(entry->key_id, index, entry->values,
                            data != nullptr, &next);
        return row ? kRegSuccess : kRegNoMoreItems;
      });
      if (r != kRegSuccess) return r;
      entry->values = next;
      if (type != nullptr) *type = row->type;
      size_t needed = row->name.size() + 1;
      bool name_fits = needed <= name_capacity;
      bool data_fits = data == nullptr || row->size <= capacity;
      if (!name_fits || !data_fits) {
        *name_chars = static_cast<uint32_t>(needed);
        if (size_bytes != nullptr) *size_bytes = row->size;
        return kRegMoreData;
      }
      std::memcpy(name, row->name.data(), row->name.size());
      name[row->name.size()] = '\0';
      *name_chars = static_cast<uint32_t>(row->name.size());
      if (data != nullptr) std::copy(row->data.begin(), row->data.end(), data);
      if (size_bytes != nullptr) *size_bytes = row->size;
      return kRegSuccess;
    };
    return WithKey(hkey, KEY_QUERY_VALUE, on_key);
  });
}

int32_t RegEnumKeyA(HKEY hkey, uint32_t index, char* name,
                    uint32_t name_chars) {
  return Guarded([&]() -> int32_t {
    if (name == nullptr) return kRegInvalidParameter;

    auto on_key = [&](StoreState& s, KeyHandle* entry) -> int32_t {
      std::optional<KeyRow> row;
      EnumCursor next;
      int32_t r = s.db->Transact(false, [&]() -> int32_t {
        if (!s.db->KeyExists(entry->key_id)) return kRegKeyDeleted;
        row = s.db->ChildAt(entry->key_id, index, entry->keys, &next);
        return row ? kRegSuccess : kRegNoMoreItems;
      });
      if (r != kRegSuccess) return r;
      entry->keys = next;
      if (row->name.size() + 1 > name_chars) return kRegMoreData;
      std::memcpy(name, row->name.data(), row->name.size());
      name[row->name.size()] = '\0';
      return kRegSuccess;
    };
    return WithKey(hkey, KEY_ENUMERATE_SUB_KEYS, on_key);
  });
}

int32_t RegDeleteKeyA(HKEY hkey, const char* sub_key) {
  return Guarded([&]() -> int32_t {
    if (sub_key == nullptr) return kRegInvalidParameter;
    auto parts = SplitKeyPath(sub_key);
    if (!parts) return kRegInvalidParameter;
    const std::vector<std::string> folds = FoldAll(*parts);

    auto on_key = [&](StoreState& s, KeyHandle* base) -> int32_t {
      return s.db->Transact(true, [&]() -> int32_t {
        int64_t current = 0;
        if (int32_t r = FindKeyPath(*s.db, base->key_id, folds, &current);
            r != kRegSuccess) {
          return r;
        }
        if (IsRootKeyId(current) || s.db->HasChildren(current)) {
          return kRegAccessDenied;
        }
        s.db->DeleteKey(current);
        return kRegSuccess;
      });
    };
    return WithKey(hkey, 0, on_key);
  });
}

int32_t RegDeleteValueA(HKEY hkey, const char* value_name) {
  return Guarded([&]() -> int32_t {
    std::string fold = FoldName(OrEmpty(value_name));

    auto on_key = [&](StoreState& s, KeyHandle* entry) -> int32_t {
      return s.db->Transact(true, [&]() -> int32_t {
        if (!s.db->KeyExists(entry->key_id)) return kRegKeyDeleted;
        return s.db->DeleteValue(entry->key_id, fold) ? kRegSuccess
                                                      : kRegFileNotFound;
      });
    };
    return WithKey(hkey, KEY_SET_VALUE, on_key);
  });
}

int32_t BackupRegistryStore(const std::string& destination) {
  return Guarded([&]() -> int32_t {
    if (destination.empty()) return kRegInvalidParameter;
    StoreState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (int32_t r = EnsureOpen(s); r != kRegSuccess) return r;
    return s.db->BackupTo(destination);
  });
}

void SetRegistryStorePath(std::string path) {
  StoreState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.db) s.db->Checkpoint();  // every handle closes here
  s.db.reset();
  s.handles.clear();
  ResetRoots(s);
  s.path = std::move(path);
}

std::string RegistryStorePath() {
  StoreState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.path.empty() ? DefaultRegistryStorePath() : s.path;
}

size_t RegistryStoreOpenHandles() {
  StoreState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.handles.size();
}

std::string DefaultRegistryStorePath() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  std::string base = (data_home != nullptr && data_home[0] == '/')
                         ? std::string(data_home)
                         : HomeFolder() + "/.local/share";
  return base + "/vignettes/registry.sqlite3";
}

}  // namespace vg::platform
