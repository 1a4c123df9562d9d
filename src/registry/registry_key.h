// File: registry/registry_key.h
//
// RegistryKey wraps one open key of the registry store (registry/
// registry_store.h): it opens or creates one key below a root, holds its
// handle while the key is open, reads and writes the key's values as text,
// lists value and sub-key names, and deletes keys and values. Every string
// is UTF-16 and goes through the store's ANSI (UTF-8) calls.
//
//   RegistryKey key;
//   key.CreateKey(platform::HKEY_CURRENT_USER, u"Software\\Vignettes");
//   key.set_value(u"Width", 150);                  // stored as REG_SZ "150"
//   std::u16string width = key.value(u"Width");    // u"150"
//   for (const std::u16string& name : key.ValueNames()) { ... }
//
// Errors: members that fail raise vg::platform::Error whose number is the
// store's result code unchanged (2 not found, 5 access denied, 6 invalid
// handle, 234 more data...), whose source is "RegistryKey." and the member,
// and whose description is a fixed English text. A member does not check
// that a key is open: with none open, the store answers 6.
//
// Not for binary or numeric values: the class stores text only (REG_SZ) and
// reads any value as text. One object is used by one thread at a time.
#ifndef VG_REGISTRY_REGISTRY_KEY_H_
#define VG_REGISTRY_REGISTRY_KEY_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "registry/name_list.h"
#include "registry/registry_store.h"
#include "registry/value_text.h"

namespace vg::registry {

using platform::HKEY;

class RegistryKey {
 public:
  // Holds no key (handle() is 0).
  RegistryKey() = default;

  // Closes the key through CloseKey. A close that fails cannot raise here:
  // it is reported on stderr as "RegistryKey: <description> (<number>)" and
  // the handle is left to the store.
  ~RegistryKey();

  // Takes the other object's key; the other holds none afterwards.
  RegistryKey(RegistryKey&& other) noexcept;
  // Closes this object's key (raising as CloseKey does, in which case
  // nothing changes), then takes the other's.
  // NOLINTNEXTLINE(bugprone-exception-escape,performance-noexcept-move-constructor)
  RegistryKey& operator=(RegistryKey&& other);
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Closes the open key, then opens the key `sSubkey` (a "\"-separated path)
  // below `hkeyRoot`, creating every missing key of the path with the class
  // text `sClass`, the options `lOptions` and the rights `lRights`.
  // Returns true only when a new key was created; false when an existing
  // key was opened (handle() != 0) or when creating failed (handle() == 0,
  // nothing raised). Raises only the error of the preliminary CloseKey, in
  // which case nothing else happens.
  bool CreateKey(HKEY hkeyRoot, std::u16string_view sSubkey,
                 std::u16string_view sClass = u"", uint32_t lOptions = 0,
                 uint32_t lRights = platform::KEY_ALL_ACCESS);

  // Closes the open key, then opens the existing key `sSubkey` below
  // `hkeyRoot` with the rights `lRights`. With rights exactly KEY_WRITE a
  // missing key is created first (class "", options 0, KEY_ALL_ACCESS) and
  // then opened; any other rights never create. A failure leaves handle()
  // at 0 and raises nothing; only the preliminary CloseKey can raise.
  void OpenKey(HKEY hkeyRoot, std::u16string_view sSubkey, uint32_t lRights);

  // Closes the open key, if any. When the store refuses, raises the store's
  // code with source "RegistryKey.CloseKey" and keeps the handle, so that a
  // later call (or the destructor) tries again.
  void CloseKey();

  // Returns the handle of the open key, 0 when none is open.
  HKEY handle() const { return hkeyOpen_; }

  // Returns the data of the value `sName` ("" for the unnamed value) as
  // text, whatever its type: the bytes as UTF-8, less one final NUL byte
  // when there is one (the NUL that ends a string value; a value written
  // without it keeps every character); "" for a value with no data.
  // Raises with source "RegistryKey.Get Value": the size query's code
  // ("Unable to get the length of the registy value '<name>'"), or the read's
  // code ("An error occurred while getting the registy value '<name>'").
  std::u16string value(std::u16string_view sName) const;

  // Stores the text form of `vValue` (see ValueText) with a terminating NUL
  // as the string value (REG_SZ) `sName`. A Null raises 94 "Invalid use of
  // Null" and writes nothing. A store failure raises its code with source
  // "RegistryKey.Let Value" and description "An error occurred while
  // setting the registry value '<name>'".
  void set_value(std::u16string_view sName, const Variant& vValue);

  // Returns the names of the key's values in enumeration order, the unnamed
  // value left out; names up to 4095 chars (UTF-8 bytes). Raises the
  // enumeration's code with source "RegistryKey.GetValues", and 6
  // "Overflow" (source "RegistryKey.ValueNames") past 32767 names.
  NameList ValueNames() const;

  // Returns the names of the key's sub-keys; names up to 511 chars. Raises
  // as ValueNames (234 for a longer name; 6 past 32767 names, source
  // "RegistryKey.SubKeyNames").
  NameList SubKeyNames() const;

  // Deletes the key `sSubkey` below `hkeyRoot` (a key without sub-keys);
  // the open key is not used or changed. Raises the store's code with source
  // "RegistryKey.DeleteKey", "Unable to delete registry key '<sSubkey>'".
  void DeleteKey(HKEY hkeyRoot, std::u16string_view sSubkey);

  // Deletes the sub-key `sSubkey` of the open key. Raises with source
  // "RegistryKey.DeleteSubKey", "Unable to delete registry subkey '...'".
  void DeleteSubKey(std::u16string_view sSubkey);

  // Deletes the value `sName` of the open key. Raises with source
  // "RegistryKey.DeleteValue", "Unable to delete registry value '...'".
  void DeleteValue(std::u16string_view sName);

  // Returns the names of the key's values, the unnamed value included (as
  // ""); names up to 511 chars. Raises as ValueNames (234 for a longer
  // name; 6 past 32767 names, source "RegistryKey.SubValueNames").
  NameList SubValueNames() const;

 private:
  // Returns the size in bytes of the data of the value `sName`. Raises the
  // query's code with source "RegistryKey.GetRegistryValueLen".
  int32_t GetRegistryValueLen(std::u16string_view sName) const;

  HKEY hkeyOpen_ = 0;
};

}  // namespace vg::registry

#endif  // VG_REGISTRY_REGISTRY_KEY_H_
