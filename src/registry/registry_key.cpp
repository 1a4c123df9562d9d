// The handle's lifecycle: create, open, close, destruction.
#include "registry/registry_key.h"

#include <cstdio>
#include <string>
#include <utility>

#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::registry {

using platform::Error;
using platform::ToAnsi;

RegistryKey::~RegistryKey() {
  try {
    CloseKey();
  } catch (const Error& e) {
    std::fprintf(stderr, "RegistryKey: %s (%d)\n", e.description().c_str(),
                 static_cast<int>(e.number()));
  } catch (...) {
    std::fprintf(stderr, "RegistryKey: the key could not be closed\n");
  }
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : hkeyOpen_(std::exchange(other.hkeyOpen_, 0)) {}

// Raises as CloseKey does, leaving both objects unchanged: a key that will
// not close is reported, never dropped in silence.
// NOLINTNEXTLINE(bugprone-exception-escape,performance-noexcept-move-constructor)
RegistryKey& RegistryKey::operator=(RegistryKey&& other) {
  if (this != &other) {
    CloseKey();
    hkeyOpen_ = std::exchange(other.hkeyOpen_, 0);
  }
  return *this;
}

bool RegistryKey::CreateKey(HKEY hkeyRoot, std::u16string_view sSubkey,
                            std::u16string_view sClass, uint32_t lOptions,
                            uint32_t lRights) {
  CloseKey();
  // The record's size is this platform's own; the store ignores the record
  // but ported callers always pass one.
  platform::SECURITY_ATTRIBUTES security{sizeof(platform::SECURITY_ATTRIBUTES),
                                         nullptr, 0};
  uint32_t disposition = 0;
  int32_t result = platform::RegCreateKeyExA(
      hkeyRoot, ToAnsi(sSubkey).c_str(), 0, ToAnsi(sClass).c_str(), lOptions,
      lRights, &security, &hkeyOpen_, &disposition);
  if (result != platform::kRegSuccess) {
    hkeyOpen_ = 0;
    return false;
  }
  return disposition == platform::REG_CREATED_NEW_KEY;
}

void RegistryKey::OpenKey(HKEY hkeyRoot, std::u16string_view sSubkey,
                          uint32_t lRights) {
  CloseKey();
  const std::string path = ToAnsi(sSubkey);
  int32_t result =
      platform::RegOpenKeyExA(hkeyRoot, path.c_str(), 0, lRights, &hkeyOpen_);
  // Opening for writing exactly is the one case that makes a missing key.
  if (lRights == platform::KEY_WRITE && result == platform::kRegFileNotFound) {
    (void)CreateKey(hkeyRoot, sSubkey, u"", 0, platform::KEY_ALL_ACCESS);
    CloseKey();
    result =
        platform::RegOpenKeyExA(hkeyRoot, path.c_str(), 0, lRights, &hkeyOpen_);
  }
  if (result != platform::kRegSuccess) hkeyOpen_ = 0;
}

void RegistryKey::CloseKey() {
  if (hkeyOpen_ == 0) return;
  int32_t result = platform::RegCloseKey(hkeyOpen_);
  if (result != platform::kRegSuccess) {
    throw Error(result, "RegistryKey.CloseKey",
                "An error occurred while closing the registy key");
  }
  hkeyOpen_ = 0;
}

}  // namespace vg::registry
