// File: registry/registry_store.h
//
// The registry of this platform: a stand-in for the Windows registry kept in
// one SQLite 3 database file (the hive). The hive holds a tree of keys below
// five predefined roots; key and value names are case-insensitive and
// case-preserving; each key carries a class text and any number of values
// (name, type, bytes), the unnamed default value included. The functions
// below keep the names, parameters and result codes of the ANSI registry
// calls of Windows, so that ported call sites read the same; strings are
// char* in the "ANSI" code page of this platform, which is UTF-8.
//
//   HKEY key = 0;
//   uint32_t disposition = 0;
//   if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vignettes", 0, "", 0,
//                       KEY_ALL_ACCESS, nullptr, &key, &disposition) == 0) {
//     (void)RegSetValueExA(key, "Width", 0, REG_SZ,
//                          reinterpret_cast<const uint8_t*>("150"), 4);
//     (void)RegCloseKey(key);
//   }
//
// What it abstracts: handles (process-local 32-bit integers, validated on
// every call, never reused while open), access rights checked per handle,
// the Win32 result codes, and durable storage (one SQLite transaction per
// call that changes anything; several processes may share one hive).
// Recent writes sit in the hive's write-ahead log (the "-wal" file beside
// it) until a checkpoint copies them into the hive file: when a process
// closes its last handle, when it points the calls at another hive, and
// when it exits the usual way. Until then a copy of the hive file alone
// misses them; BackupRegistryStore() copies safely at any time.
// What it does not: security descriptors, volatile keys that vanish at
// reboot, symbolic links, the merged views behind HKEY_CLASSES_ROOT and
// HKEY_CURRENT_CONFIG (each root here is an independent tree), change
// notification, or any other call of the Windows registry API.
//
// Store file: $XDG_DATA_HOME/vignettes/registry.sqlite3 by default
// (~/.local/share/... when XDG_DATA_HOME is unset; the folder is created).
// SetRegistryStorePath() points the calls at another file. A hive that
// cannot be written (a write-protected file, a read-only folder or medium)
// is opened read-only: every read works, and every call that would change
// it answers 5 and changes nothing.
//
// The store lives in the registry module (vg::registry, beside RegistryKey
// and vignettes-reg) but keeps the vg::platform namespace: it stands in for
// an OS service, and ported call sites name it vg::platform::RegOpenKeyExA.
//
// Threads and processes: every function may be called from any thread. A
// process may fork while handles are open: the store is closed around the
// fork and reopened on the next call in parent and child, and the child keeps
// copies of the parent's handles (as it keeps its file descriptors).
#ifndef VG_REGISTRY_REGISTRY_STORE_H_
#define VG_REGISTRY_REGISTRY_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace vg::platform {

// A registry key handle: 0 for none, a predefined root (negative as int32),
// or a positive number handed out by RegCreateKeyExA / RegOpenKeyExA.
using HKEY = int32_t;

// The predefined roots, always open, with every access right.
inline constexpr HKEY HKEY_CLASSES_ROOT = static_cast<HKEY>(0x80000000u);
inline constexpr HKEY HKEY_CURRENT_USER = static_cast<HKEY>(0x80000001u);
inline constexpr HKEY HKEY_LOCAL_MACHINE = static_cast<HKEY>(0x80000002u);
inline constexpr HKEY HKEY_USERS = static_cast<HKEY>(0x80000003u);
inline constexpr HKEY HKEY_CURRENT_CONFIG = static_cast<HKEY>(0x80000005u);

// Result codes of the Reg* functions (the Win32 error numbers).
enum RegResult : int32_t {
  kRegSuccess = 0,            // ERROR_SUCCESS
  kRegFileNotFound = 2,       // ERROR_FILE_NOT_FOUND: no such key or value
  kRegAccessDenied = 5,       // ERROR_ACCESS_DENIED: right missing on the
                              // handle, key with sub-keys, predefined root,
                              // a change to a read-only hive
  kRegInvalidHandle = 6,      // ERROR_INVALID_HANDLE: 0, closed or unknown
  kRegOutOfMemory = 14,       // ERROR_OUTOFMEMORY
  kRegInvalidParameter = 87,  // ERROR_INVALID_PARAMETER
  kRegBusy = 170,             // ERROR_BUSY: another process kept the hive
                              // locked for over a minute; nothing was done
  kRegMoreData = 234,         // ERROR_MORE_DATA: buffer too small, the size
                              // needed returned, nothing written
  kRegNoMoreItems = 259,      // ERROR_NO_MORE_ITEMS: index past the last one
  kRegIoFailed = 1016,        // ERROR_REGISTRY_IO_FAILED: the hive cannot be
                              // opened, read or written (disk, corruption,
                              // not a hive); nothing was done
  kRegKeyDeleted = 1018,      // ERROR_KEY_DELETED: the handle's key is gone
};

// Returns the Win32 name of a result code ("ERROR_MORE_DATA"), or "" for a
// number that no Reg* function returns.
const char* RegResultName(int32_t result);

// Returns a short English sentence for a result code, for messages.
const char* RegResultMessage(int32_t result);

// Access rights (REGSAM) kept with each handle.
inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr uint32_t KEY_NOTIFY = 0x0010;
inline constexpr uint32_t KEY_CREATE_LINK = 0x0020;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_EXECUTE = 0x20019;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;
// Generic rights, mapped to KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS.
inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr uint32_t GENERIC_EXECUTE = 0x20000000u;
inline constexpr uint32_t GENERIC_ALL = 0x10000000u;
inline constexpr uint32_t MAXIMUM_ALLOWED = 0x02000000u;

// Options of RegCreateKeyExA (volatile keys are kept like the others) and
// RegOpenKeyExA (links do not exist here, so the flag changes nothing).
inline constexpr uint32_t REG_OPTION_NON_VOLATILE = 0;
inline constexpr uint32_t REG_OPTION_VOLATILE = 1;
inline constexpr uint32_t REG_OPTION_OPEN_LINK = 8;

// Dispositions of RegCreateKeyExA.
inline constexpr uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

// Value types. The store keeps any 32-bit type with the bytes as given; it
// never adds or checks a terminating NUL.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
inline constexpr uint32_t REG_LINK = 6;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

// Limits, counted in UTF-16 code units of the UTF-8 names.
inline constexpr uint32_t kRegMaxKeyNameChars = 255;  // one path element
inline constexpr uint32_t kRegMaxValueNameChars = 16383;
inline constexpr uint32_t kRegMaxDataBytes = 64u << 20;  // one value's data

// Accepted by RegCreateKeyExA for the sake of ported callers and ignored:
// every key gets the same default security.
struct SECURITY_ATTRIBUTES {
  uint32_t nLength;
  void* lpSecurityDescriptor;
  int32_t bInheritHandle;
};

// Key paths: names separated by "\", relative to the given key; "" (or null
// where allowed) is the given key itself; an empty element ("a\\\\b",
// "\\a") is invalid (87), one trailing "\" is ignored.

// Opens the key `sub_key` below `hkey`, creating every missing key of the
// path (creating needs KEY_CREATE_SUB_KEY on `hkey`; a new last key gets the
// class text `class_text`, null meaning ""). `reserved` must be 0; `options`
// REG_OPTION_NON_VOLATILE or REG_OPTION_VOLATILE; `security` is ignored.
// On 0 `*result` holds a new handle with the rights `sam_desired` and
// `*disposition` (optional) REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY;
// on failure `*result` is 0 and nothing was created. Errors: 6, 87 (null
// `sub_key` or `result`, bad options, bad path), 5, 1018, 170, 1016, 14.
[[nodiscard]] int32_t RegCreateKeyExA(HKEY hkey, const char* sub_key,
                                      uint32_t reserved, const char* class_text,
                                      uint32_t options, uint32_t sam_desired,
                                      const SECURITY_ATTRIBUTES* security,
                                      HKEY* result, uint32_t* disposition);

// Opens the existing key `sub_key` (null or "" for `hkey` itself) below
// `hkey` with the rights `sam_desired`; `options` is 0 or
// REG_OPTION_OPEN_LINK. On 0 `*result` holds a new handle the caller closes
// with RegCloseKey; on failure it is 0. Errors: 2 (a key of the path is
// missing), 6, 87, 1018, 170, 1016, 14.
[[nodiscard]] int32_t RegOpenKeyExA(HKEY hkey, const char* sub_key,
                                    uint32_t options, uint32_t sam_desired,
                                    HKEY* result);

// Closes a handle. Numbers are handed out in rising order, so a closed
// handle's number comes back only after some two billion opens (and never
// while it is open). Closing a predefined root does nothing and succeeds; a
// handle whose key was deleted closes normally. Errors: 6.
[[nodiscard]] int32_t RegCloseKey(HKEY hkey);

// Reads the value `value_name` (null or "" for the unnamed value) of the key
// `hkey` (needs KEY_QUERY_VALUE). `reserved` must be null. `*type`
// (optional) receives the type. With `data` null, `*size_bytes` (optional)
// receives the data size. With `data`, `*size_bytes` is the buffer size in
// bytes on entry and the data size on return; when the data does not fit
// the result is 234 and nothing is written to `data`. `type` and
// `size_bytes` may point at one variable: the buffer size is read first, and
// the data size is written last. A missing value answers 2; `*size_bytes`
// is then set to 0 when `data` is null and left as it was otherwise.
// Errors: 2, 5, 6, 87 (`data` without
// `size_bytes`), 234, 1018, 170, 1016, 14.
[[nodiscard]] int32_t RegQueryValueExA(HKEY hkey, const char* value_name,
                                       uint32_t* reserved, uint32_t* type,
                                       uint8_t* data, uint32_t* size_bytes);

// Stores `size_bytes` bytes of `data` (null only when `size_bytes` is 0) as
// the value `value_name` (null or "" for the unnamed value) of type `type`,
// replacing any value of that name (whose name keeps its case and whose place
// in the enumeration order stays). Needs KEY_SET_VALUE. `reserved` must be
// 0. Errors: 5, 6, 87 (name or data over the limits above), 1018, 170, 1016,
// 14.
[[nodiscard]] int32_t RegSetValueExA(HKEY hkey, const char* value_name,
                                     uint32_t reserved, uint32_t type,
                                     const uint8_t* data, uint32_t size_bytes);

// Enumerates the values of `hkey` (needs KEY_QUERY_VALUE) in the order they
// were first stored: index 0 is the first, and an index is the position in
// the list as it is at the call (after a deletion, the entries behind it
// move up one). `*name_chars` is the size of
// `name` in chars on entry; on 0 `name` holds the value's name and a NUL and
// `*name_chars` its length without the NUL (the unnamed value has length 0).
// `type`, `data`, `size_bytes` behave as with RegQueryValueExA; `reserved`
// must be null. When the name (with its NUL) or the data does not fit, the
// result is 234, neither buffer is written, `*name_chars` is set to the size
// the name needs with its NUL and `*size_bytes` (if given) to the data size.
// Errors: 5, 6, 87 (null `name` or `name_chars`), 234, 259 (index past the
// last value), 1018, 170, 1016, 14.
[[nodiscard]] int32_t RegEnumValueA(HKEY hkey, uint32_t index, char* name,
                                    uint32_t* name_chars, uint32_t* reserved,
                                    uint32_t* type, uint8_t* data,
                                    uint32_t* size_bytes);

// Writes the name of the sub-key number `index` of `hkey` (needs
// KEY_ENUMERATE_SUB_KEYS), in creation order, and a NUL into `name`, whose
// size is `name_chars` chars. Errors: 5, 6, 87 (null `name`), 234 (the name
// and its NUL do not fit; nothing written), 259, 1018, 170, 1016, 14.
[[nodiscard]] int32_t RegEnumKeyA(HKEY hkey, uint32_t index, char* name,
                                  uint32_t name_chars);

// Deletes the key `sub_key` below `hkey` ("" for `hkey`'s own key) with its
// values; handles open on it then answer 1018. Errors: 2, 5 (the key has
// sub-keys, or is a predefined root), 6, 87 (null `sub_key`, bad path),
// 1018, 170, 1016, 14.
[[nodiscard]] int32_t RegDeleteKeyA(HKEY hkey, const char* sub_key);

// Deletes the value `value_name` (null or "" for the unnamed value) of
// `hkey` (needs KEY_SET_VALUE). Errors: 2, 5, 6, 1018, 170, 1016, 14.
[[nodiscard]] int32_t RegDeleteValueA(HKEY hkey, const char* value_name);

// Writes a copy of the whole hive, as it is at one moment, to the file
// `destination` through SQLite's online backup: consistent even while other
// threads and processes write to the hive. The copy is made beside
// `destination` and renamed over it, so `destination` is replaced whole or
// not at all; a journal left beside an old `destination` is removed. It is a
// hive like any other. Errors: 87 (`destination` empty, or the hive itself),
// 170, 1016 (the hive cannot be read, the copy cannot be written), 14.
[[nodiscard]] int32_t BackupRegistryStore(const std::string& destination);

// Points the Reg* functions at the hive file `path` ("" for the default)
// from the next call on. The current hive is closed and every handle opened
// so far becomes invalid (6). The file is created on first use when missing;
// its folder must exist.
void SetRegistryStorePath(std::string path);

// Returns the hive file the Reg* functions use.
std::string RegistryStorePath();

// Returns the number of handles open in this process, the predefined roots
// not counted (for leak checks).
size_t RegistryStoreOpenHandles();

// Returns $XDG_DATA_HOME/vignettes/registry.sqlite3, or
// $HOME/.local/share/vignettes/registry.sqlite3 when XDG_DATA_HOME is unset
// or not absolute.
std::string DefaultRegistryStorePath();

}  // namespace vg::platform

#endif  // VG_REGISTRY_REGISTRY_STORE_H_
