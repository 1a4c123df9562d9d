// Runs sequences of registry store calls, decoded from the input, on a fresh
// hive: no call may crash, write outside the buffers it was given, or answer
// with a code it does not document; a value that was stored must read back.
//
// Input: a list of operations, each one byte (call number) followed by the
// bytes that call reads (handle choice, names, sizes, data).
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "registry/registry_store.h"

namespace {

using namespace vg::platform;

constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 16;
constexpr int kMaxCalls = 48;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckCode(int32_t code, std::initializer_list<int32_t> allowed) {
  for (int32_t a : allowed) {
    if (code == a) return;
  }
  __builtin_trap();
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  // A name: one of a few interesting ones, or raw bytes (no NUL).
  std::string Name() {
    static const char* const kNames[] = {
        "",
        "a",
        "A",
        "b",
        "Sub",
        "\xC3\xA9t\xC3\xA9",
        "\xC3\x89T\xC3\x89",
        "caf\xE9\xFF",
        "Software",
        "SOFTWARE",
        "x y",
    };
    uint8_t pick = Byte();
    if (pick < 200) return kNames[pick % (sizeof kNames / sizeof *kNames)];
    if (pick == 200) return std::string(256, 'k');  // one over the key limit
    if (pick == 201) return std::string(600, 'v');
    size_t length = Byte() % 24;
    std::string raw;
    for (size_t i = 0; i < length && !empty(); ++i) {
      char c = static_cast<char>(Byte());
      raw.push_back(c == '\0' ? '0' : c);
    }
    return raw;
  }
  // A key path: up to three names, now and then with a stray backslash.
  std::string Path() {
    uint8_t shape = Byte();
    std::string path;
    for (int i = 0; i < shape % 4; ++i) {
      if (i > 0) path += '\\';
      path += Name();
    }
    if (shape & 0x10) path = "\\" + path;
    if (shape & 0x20) path += "\\";
    return path;
  }
  uint32_t Rights() {
    static const uint32_t kRights[] = {
        KEY_ALL_ACCESS, KEY_READ,           KEY_WRITE, KEY_QUERY_VALUE,
        KEY_SET_VALUE,  KEY_CREATE_SUB_KEY, 0,         GENERIC_ALL};
    uint8_t pick = Byte();
    return pick < 248 ? kRights[pick % 8] : U32();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A buffer of `size` bytes followed by guard bytes that no call may touch.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t size)
      : size_(size), bytes_(size + kGuardBytes, kGuard) {}
  uint8_t* data() { return bytes_.data(); }
  // Checks that nothing at or past `from` changed.
  void CheckUntouchedFrom(size_t from) const {
    for (size_t i = from; i < bytes_.size(); ++i) Check(bytes_[i] == kGuard);
  }
  size_t size() const { return size_; }

 private:
  size_t size_;
  std::vector<uint8_t> bytes_;
};

// Made once per process and removed when it exits (kept alive on the heap
// so that the exit handler still finds its name).
const std::string& TempFolder() {
  static const std::string* folder = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vgregfuzz-XXXXXX").string();
    Check(mkdtemp(pattern.data()) != nullptr);
    std::atexit([] {
      SetRegistryStorePath("");
      std::error_code ignored;
      std::filesystem::remove_all(TempFolder(), ignored);
    });
    return new std::string(pattern);
  }();
  return *folder;
}

HKEY PickHandle(Input& in, const std::vector<HKEY>& handles) {
  uint8_t pick = in.Byte();
  if (pick == 0xFF) return static_cast<HKEY>(in.U32());
  if (pick == 0xFE) return 0;
  return handles[pick % handles.size()];
}

// After a successful write, a fresh handle must read the same type and bytes.
void CheckReadsBack(HKEY key, const std::string& name, uint32_t type,
                    const std::string& data) {
  HKEY reader = 0;
  int32_t r = RegOpenKeyExA(key, "", 0, KEY_READ, &reader);
  CheckCode(r, {kRegSuccess});
  uint32_t got_type = 0;
  uint32_t size = static_cast<uint32_t>(data.size());
  std::vector<uint8_t> buffer(data.size() + 1);
  r = RegQueryValueExA(reader, name.c_str(), nullptr, &got_type, buffer.data(),
                       &size);
  CheckCode(r, {kRegSuccess});
  Check(got_type == type && size == data.size() &&
        std::memcmp(buffer.data(), data.data(), data.size()) == 0);
  CheckCode(RegCloseKey(reader), {kRegSuccess});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string hive = TempFolder() + "/hive.sqlite3";
  SetRegistryStorePath(TempFolder() + "/none.sqlite3");  // closes the hive
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    unlink((hive + suffix).c_str());
  }
  SetRegistryStorePath(hive);

  std::vector<HKEY> handles = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
  Input in(data, size);
  for (int call = 0; call < kMaxCalls && !in.empty(); ++call) {
    uint8_t op = in.Byte() % 10;
    HKEY key = PickHandle(in, handles);
    switch (op) {
      case 0: {  // create
        std::string path = in.Path();
        std::string class_text = in.Name();
        uint32_t options = in.Byte() % 3;
        uint32_t rights = in.Rights();
        HKEY out = 77;
        uint32_t disposition = 0;
        int32_t r =
            RegCreateKeyExA(key, path.c_str(), 0, class_text.c_str(), options,
                            rights, nullptr, &out, &disposition);
        CheckCode(r, {kRegSuccess, kRegAccessDenied, kRegInvalidHandle,
                      kRegInvalidParameter, kRegKeyDeleted});
        if (r == kRegSuccess) {
          Check(out > 0 && (disposition == REG_CREATED_NEW_KEY ||
                            disposition == REG_OPENED_EXISTING_KEY));
          handles.push_back(out);
        } else {
          Check(out == 0);
        }
        break;
      }
      case 1: {  // open
        std::string path = in.Path();
        HKEY out = 77;
        int32_t r = RegOpenKeyExA(key, (in.Byte() & 1) ? nullptr : path.c_str(),
                                  0, in.Rights(), &out);
        CheckCode(r, {kRegSuccess, kRegFileNotFound, kRegInvalidHandle,
                      kRegInvalidParameter, kRegKeyDeleted});
        if (r == kRegSuccess) {
          Check(out > 0);
          handles.push_back(out);
        } else {
          Check(out == 0);
        }
        break;
      }
      case 2:  // close
        CheckCode(RegCloseKey(key), {kRegSuccess, kRegInvalidHandle});
        break;
      case 3: {  // query
        std::string name = in.Name();
        uint8_t shape = in.Byte();
        GuardedBuffer buffer(shape % 64);
        uint32_t type = 0;
        uint32_t buffer_size = static_cast<uint32_t>(buffer.size());
        bool with_data = shape & 0x40;
        int32_t r = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                     with_data ? buffer.data() : nullptr,
                                     (shape & 0x80) ? nullptr : &buffer_size);
        CheckCode(r, {kRegSuccess, kRegFileNotFound, kRegAccessDenied,
                      kRegInvalidHandle, kRegInvalidParameter, kRegMoreData,
                      kRegKeyDeleted});
        if (r == kRegSuccess && with_data) {
          Check(buffer_size <= buffer.size());
          buffer.CheckUntouchedFrom(buffer_size);
        } else {
          buffer.CheckUntouchedFrom(0);
        }
        if (r == kRegMoreData) Check(buffer_size > buffer.size());
        break;
      }
      case 4: {  // set
        std::string name = in.Name();
        uint32_t type = in.Byte() % 12;
        size_t length = in.Byte() % 48;
        std::string bytes;
        for (size_t i = 0; i < length; ++i) {
          bytes.push_back(static_cast<char>(in.Byte()));
        }
        int32_t r =
            RegSetValueExA(key, name.c_str(), 0, type,
                           reinterpret_cast<const uint8_t*>(bytes.data()),
                           static_cast<uint32_t>(bytes.size()));
        CheckCode(r, {kRegSuccess, kRegAccessDenied, kRegInvalidHandle,
                      kRegInvalidParameter, kRegKeyDeleted});
        if (r == kRegSuccess) CheckReadsBack(key, name, type, bytes);
        break;
      }
      case 5: {  // enumerate values
        uint32_t index = in.Byte() % 8;
        uint8_t shape = in.Byte();
        GuardedBuffer name(shape % 40);
        GuardedBuffer value(in.Byte() % 40);
        uint32_t chars = static_cast<uint32_t>(name.size());
        uint32_t value_size = static_cast<uint32_t>(value.size());
        bool with_data = shape & 0x40;
        int32_t r = RegEnumValueA(
            key, index, reinterpret_cast<char*>(name.data()), &chars, nullptr,
            nullptr, with_data ? value.data() : nullptr,
            with_data ? &value_size : nullptr);
        CheckCode(r, {kRegSuccess, kRegAccessDenied, kRegInvalidHandle,
                      kRegInvalidParameter, kRegMoreData, kRegNoMoreItems,
                      kRegKeyDeleted});
        if (r == kRegSuccess) {
          Check(chars < name.size() && name.data()[chars] == 0);
          name.CheckUntouchedFrom(chars + 1);
          if (with_data) value.CheckUntouchedFrom(value_size);
        } else {
          name.CheckUntouchedFrom(0);
          value.CheckUntouchedFrom(0);
        }
        break;
      }
      case 6: {  // enumerate sub-keys
        uint32_t index = in.Byte() % 8;
        GuardedBuffer name(in.Byte() % 40);
        int32_t r =
            RegEnumKeyA(key, index, reinterpret_cast<char*>(name.data()),
                        static_cast<uint32_t>(name.size()));
        CheckCode(r, {kRegSuccess, kRegAccessDenied, kRegInvalidHandle,
                      kRegInvalidParameter, kRegMoreData, kRegNoMoreItems,
                      kRegKeyDeleted});
        if (r == kRegSuccess) {
          size_t length = std::strlen(reinterpret_cast<char*>(name.data()));
          Check(length < name.size());
          name.CheckUntouchedFrom(length + 1);
        } else {
          name.CheckUntouchedFrom(0);
        }
        break;
      }
      case 7: {  // delete key
        std::string path = in.Path();
        CheckCode(RegDeleteKeyA(key, path.c_str()),
                  {kRegSuccess, kRegFileNotFound, kRegAccessDenied,
                   kRegInvalidHandle, kRegInvalidParameter, kRegKeyDeleted});
        break;
      }
      case 8: {  // delete value
        std::string name = in.Name();
        CheckCode(RegDeleteValueA(key, name.c_str()),
                  {kRegSuccess, kRegFileNotFound, kRegAccessDenied,
                   kRegInvalidHandle, kRegKeyDeleted});
        break;
      }
      case 9:  // reopen the hive: every handle goes
        SetRegistryStorePath(hive);
        handles.resize(2);
        break;
    }
  }
  for (size_t i = 2; i < handles.size(); ++i) (void)RegCloseKey(handles[i]);
  Check(RegistryStoreOpenHandles() == 0);
  return 0;
}
