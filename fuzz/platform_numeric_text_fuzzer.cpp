// Feeds arbitrary UTF-16 text to the numeric value of a text and to the code
// page round trip.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/code_page.h"
#include "platform/error.h"
#include "platform/numeric_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string text(size / 2, u'\0');
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
  try {
    double v = vg::platform::NumericValue(text);
    (void)v;
  } catch (const vg::platform::Error& e) {
    if (e.number() != vg::platform::kErrOverflow) __builtin_trap();
  }
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (vg::platform::ToAnsi(vg::platform::FromAnsi(bytes)) != bytes) {
    __builtin_trap();
  }
  return 0;
}
