// The members that work on the open key's values and sub-keys.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/error.h"
#include "registry/registry_key.h"

namespace vg::registry {
namespace {

using platform::Error;
using platform::FromAnsi;
using platform::ToAnsi;

constexpr uint32_t kNameBufferChars = 4096;
constexpr uint32_t kValueNamesSize = 4096;
constexpr uint32_t kShortNamesSize = 512;
constexpr int32_t kMaxNames = 32767;  // the count is a signed 16-bit number

std::string Quoted(std::u16string_view name) {
  return "'" + ToAnsi(name) + "'";
}

[[noreturn]] void RaiseGetValues(int32_t result) {
  throw Error(result, "RegistryKey.GetValues",
              "Unable to retrieve value names for registry key");
}

void AppendCounted(NameList& names, std::u16string name, const char* source) {
  if (names.Count() >= kMaxNames) throw Error::Overflow(source);
  names.Append(std::move(name));
}

// The text a listing call left in the buffer, up to the NUL written after it.
std::u16string UpToNul(const std::vector<char>& buffer) {
  const char* end =
      static_cast<const char*>(std::memchr(buffer.data(), '\0', buffer.size()));
  size_t length =
      end == nullptr ? buffer.size() : static_cast<size_t>(end - buffer.data());
  return FromAnsi(std::string_view(buffer.data(), length));
}

// Lists names index after index until the store has no more: `next` reads
// the name at an index into the buffer (a fresh size every call) and sets
// the name to list, if any; it returns the store's result.
template <typename Next>
NameList ListNames(const char* source, Next next) {
  std::vector<char> buffer(kNameBufferChars, ' ');
  NameList names;
  int32_t result = platform::kRegSuccess;
  for (uint32_t index = 0;; ++index) {
    std::optional<std::u16string> name;
    result = next(index, buffer, name);
    if (result != platform::kRegSuccess) break;
    if (name) AppendCounted(names, std::move(*name), source);
  }
  if (result != platform::kRegNoMoreItems) RaiseGetValues(result);
  return names;
}

// The names of `key`'s values, offering `size` bytes for each: read by the
// length the store tells, the unnamed value left out (`by_length`), or up
// to the NUL it wrote after the name.
NameList ListValueNames(platform::HKEY key, const char* source, uint32_t size,
                        bool by_length) {
  return ListNames(source, [&](uint32_t index, std::vector<char>& buffer,
                               std::optional<std::u16string>& name) {
    uint32_t name_size = size;  // set afresh for every call
    uint32_t type = 0;
    int32_t result =
        platform::RegEnumValueA(key, index, buffer.data(), &name_size, nullptr,
                                &type, nullptr, nullptr);
    if (result != platform::kRegSuccess) return result;
    if (!by_length) {
      name = UpToNul(buffer);
    } else if (name_size > 0) {
      name = FromAnsi(std::string_view(buffer.data(), name_size));
    }
    return result;
  });
}

}  // namespace

int32_t RegistryKey::GetRegistryValueLen(std::u16string_view sName) const {
  uint32_t type = 0;
  uint32_t size = 0;
  int32_t result = platform::RegQueryValueExA(hkeyOpen_, ToAnsi(sName).c_str(),
                                              nullptr, &type, nullptr, &size);
  if (result != platform::kRegSuccess) {
    throw Error(result, "RegistryKey.GetRegistryValueLen",
                "An error occurred while getting the length of the registy "
                "value " +
                    Quoted(sName));
  }
  return static_cast<int32_t>(size);  // at most kRegMaxDataBytes
}

std::u16string RegistryKey::value(std::u16string_view sName) const {
  int32_t length = 0;
  try {
    length = GetRegistryValueLen(sName);
  } catch (const Error& e) {
    throw Error(
        e.number(), "RegistryKey.Get Value",
        "Unable to get the length of the registy value " + Quoted(sName));
  }
  std::string buffer(static_cast<size_t>(length), '\0');
  uint32_t size = static_cast<uint32_t>(length);
  uint32_t type = 0;
  int32_t result = platform::RegQueryValueExA(
      hkeyOpen_, ToAnsi(sName).c_str(), nullptr, &type,
      reinterpret_cast<uint8_t*>(buffer.data()), &size);
  if (result != platform::kRegSuccess) {
    throw Error(
        result, "RegistryKey.Get Value",
        "An error occurred while getting the registy value " + Quoted(sName));
  }
  // Another writer may have shortened the value between the two queries:
  // take only the bytes the read returned, not the NULs left after them.
  buffer.resize(size);
  // A string stored with its terminating NUL loses that NUL; data stored
  // without one (the strlen() length of ported callers) loses nothing.
  if (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
  return FromAnsi(buffer);
}

void RegistryKey::set_value(std::u16string_view sName, const Variant& vValue) {
  std::string bytes = ToAnsi(ValueText(vValue));
  bytes.push_back('\0');
  int32_t result = platform::RegSetValueExA(
      hkeyOpen_, ToAnsi(sName).c_str(), 0, platform::REG_SZ,
      reinterpret_cast<const uint8_t*>(bytes.data()),
      static_cast<uint32_t>(bytes.size()));
  // A write that did not happen must not pass for one that did.
  if (result != platform::kRegSuccess) {
    throw Error(
        result, "RegistryKey.Let Value",
        "An error occurred while setting the registry value " + Quoted(sName));
  }
}

NameList RegistryKey::ValueNames() const {
  return ListValueNames(hkeyOpen_, "RegistryKey.ValueNames", kValueNamesSize,
                        /*by_length=*/true);
}

NameList RegistryKey::SubKeyNames() const {
  return ListNames("RegistryKey.SubKeyNames",
                   [this](uint32_t index, std::vector<char>& buffer,
                          std::optional<std::u16string>& name) {
                     int32_t result = platform::RegEnumKeyA(
                         hkeyOpen_, index, buffer.data(), kShortNamesSize);
                     if (result == platform::kRegSuccess) {
                       name = UpToNul(buffer);
                     }
                     return result;
                   });
}

void RegistryKey::DeleteKey(HKEY hkeyRoot, std::u16string_view sSubkey) {
  int32_t result = platform::RegDeleteKeyA(hkeyRoot, ToAnsi(sSubkey).c_str());
  if (result != platform::kRegSuccess) {
    throw Error(result, "RegistryKey.DeleteKey",
                "Unable to delete registry key " + Quoted(sSubkey));
  }
}

void RegistryKey::DeleteSubKey(std::u16string_view sSubkey) {
  int32_t result = platform::RegDeleteKeyA(hkeyOpen_, ToAnsi(sSubkey).c_str());
  if (result != platform::kRegSuccess) {
    throw Error(result, "RegistryKey.DeleteSubKey",
                "Unable to delete registry subkey " + Quoted(sSubkey));
  }
}

void RegistryKey::DeleteValue(std::u16string_view sName) {
  int32_t result = platform::RegDeleteValueA(hkeyOpen_, ToAnsi(sName).c_str());
  if (result != platform::kRegSuccess) {
    throw Error(result, "RegistryKey.DeleteValue",
                "Unable to delete registry value " + Quoted(sName));
  }
}

NameList RegistryKey::SubValueNames() const {
  return ListValueNames(hkeyOpen_, "RegistryKey.SubValueNames", kShortNamesSize,
                        /*by_length=*/false);
}

}  // namespace vg::registry
