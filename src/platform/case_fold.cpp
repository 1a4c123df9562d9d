#include "platform/case_fold.h"

namespace vg::platform {

char16_t FoldCase(char16_t c) {
  if (c < 0x80) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  }
  // Latin-1: À..Þ except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  // Latin Extended-A: pairs upper/lower, with three shifted runs.
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';  // İ
    if (c == 0x178) return 0xFF;  // Ÿ
    bool odd_lower_run =
        (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_lower_run) return (c % 2 == 1) ? static_cast<char16_t>(c + 1) : c;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c % 2 == 0) ? static_cast<char16_t>(c + 1) : c;
  }
  // Greek capitals (the tonos forms first).
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return static_cast<char16_t>(c + 37);
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return static_cast<char16_t>(c + 63);
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) {
    return static_cast<char16_t>(c + 32);
  }
  // Cyrillic: Ѐ..Џ, А..Я.
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  return c;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = FoldCase(c);
  return out;
}

}  // namespace vg::platform
