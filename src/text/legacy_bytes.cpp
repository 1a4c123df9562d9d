#include "text/legacy_bytes.h"

#include <array>

namespace vg::text {
namespace {

// The lone surrogates platform::FromAnsi uses for bytes 0x80 to 0xFF.
constexpr char16_t kFirstEscapedByte = 0xDC80;
constexpr char16_t kLastEscapedByte = 0xDCFF;

// Bytes 0x80 to 0x9F; 0 marks the five that Windows-1252 does not define.
// From 0xA0 on it agrees with Latin-1, byte for code point.
constexpr std::array<char16_t, 32> kWindows1252C1 = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::u16string LegacyBytesAsWindows1252(std::u16string_view name) {
  std::u16string out(name);
  for (std::size_t k = 0; k < out.size(); ++k) {
    const char16_t c = out[k];
    if (IsHighSurrogate(c)) {
      // The second half of a pair is a character's, not an escaped byte,
      // whatever its value: platform::ToAnsi reads it the same way.
      if (k + 1 < out.size() && IsLowSurrogate(out[k + 1])) ++k;
      continue;
    }
    if (c < kFirstEscapedByte || c > kLastEscapedByte) continue;
    const unsigned byte = 0x80u + (c - kFirstEscapedByte);
    if (byte >= 0xA0) {
      out[k] = static_cast<char16_t>(byte);
    } else if (char16_t mapped = kWindows1252C1[byte - 0x80]; mapped != 0) {
      out[k] = mapped;
    }
  }
  return out;
}

}  // namespace vg::text
