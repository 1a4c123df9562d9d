// Writes a 160 x 120 picture of random pixels as a JPEG file, then notes its
// name in a registry store: noise_thumbnail OUT.jpg STORE.sqlite3
#include <cstdio>

#include "dib/c_dib_section.h"
#include "platform/code_page.h"
#include "platform/error.h"
#include "registry/registry_key.h"
#include "registry/registry_store.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s OUT.jpg STORE.sqlite3\n", argv[0]);
    return 2;
  }
  try {
    vg::dib::cDIBSection dib;
    if (!dib.Create(160, 120)) return 1;
    dib.RandomiseBits();
    if (!dib.SaveJPG(dib, vg::platform::FromAnsi(argv[1]), 85)) return 1;

    vg::platform::SetRegistryStorePath(argv[2]);  // else the user's store
    vg::registry::RegistryKey key;
    key.CreateKey(vg::platform::HKEY_CURRENT_USER,
                  u"Software\\Vignettes\\Example");
    key.set_value(u"LastPicture", vg::platform::FromAnsi(argv[1]));
  } catch (const vg::platform::Error& e) {
    std::fprintf(stderr, "%s: %s\n", e.source().c_str(),
                 e.description().c_str());
    return 1;
  }
  return 0;
}
