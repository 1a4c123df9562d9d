#include "registry/internal/registry_names.h"

#include <locale.h>
#include <wctype.h>

#include "platform/code_page.h"
#include "registry/registry_store.h"

namespace vg::platform::registry_internal {
namespace {

// The C.UTF-8 locale carries the full Unicode case tables and is built into
// glibc, so every process folds names the same way whatever its own locale.
// Without it (a libc that lacks it) only ASCII letters fold.
locale_t FoldLocale() {
  static const locale_t locale =
      newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

char32_t Upper(char32_t cp) {
  if (cp < 0x80) {
    return (cp >= U'a' && cp <= U'z') ? cp - 0x20 : cp;
  }
  locale_t locale = FoldLocale();
  if (locale == static_cast<locale_t>(nullptr)) return cp;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), locale));
}

}  // namespace

std::string FoldName(std::string_view name) {
  bool ascii = true;
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) {
    std::string out(name);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    }
    return out;
  }
  std::u16string wide = FromAnsi(name);
  std::u16string folded;
  folded.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char16_t unit = wide[i];
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < wide.size() &&
        wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000) {
      char32_t cp = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                    (static_cast<char32_t>(wide[i + 1]) - 0xDC00);
      cp = Upper(cp);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        folded.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        folded.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        folded.push_back(static_cast<char16_t>(cp));
      }
      ++i;
      continue;
    }
    if (unit >= 0xD800 && unit < 0xE000) {
      // A lone surrogate stands for a byte that is not UTF-8: keep it.
      folded.push_back(unit);
      continue;
    }
    char32_t cp = Upper(unit);
    // A BMP letter whose capital lies outside the BMP (none in Unicode 15)
    // would not fit one unit; keep such a letter as it is.
    folded.push_back(cp < 0x10000 ? static_cast<char16_t>(cp) : unit);
  }
  return ToAnsi(folded);
}

size_t NameLengthChars(std::string_view name) {
  size_t ascii = 0;
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return FromAnsi(name).size();
    ++ascii;
  }
  return ascii;
}

std::optional<std::vector<std::string_view>> SplitKeyPath(
    std::string_view path) {
  std::vector<std::string_view> parts;
  if (path.empty()) return parts;
  if (path.back() == '\\') path.remove_suffix(1);
  size_t start = 0;
  while (true) {
    size_t end = path.find('\\', start);
    std::string_view part = path.substr(start, end == std::string_view::npos
                                                   ? std::string_view::npos
                                                   : end - start);
    if (part.empty() || NameLengthChars(part) > kRegMaxKeyNameChars) {
      return std::nullopt;
    }
    parts.push_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace vg::platform::registry_internal
