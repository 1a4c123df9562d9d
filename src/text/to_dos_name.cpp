#include "text/to_dos_name.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/message_box.h"
#include "text/iif_value.h"
#include "text/internal/dos_name.h"
#include "text/legacy_bytes.h"

namespace vg::text {
namespace dos_name_internal {

TransliterationIndex::TransliterationIndex(std::span<const char16_t> source,
                                           std::span<const char16_t> target)
    : first_position_(std::size_t{1} << 16, 0),
      target_(target.begin(), target.end()) {
  if (source.size() != target.size() ||
      source.size() >= std::numeric_limits<uint16_t>::max()) {
    throw platform::Error::InvalidCall(platform::ProgramName());
  }
  // Walk backwards so that the first position of a repeated character is the
  // one left standing.
  for (std::size_t i = source.size(); i-- > 0;) {
    first_position_[source[i]] = static_cast<uint16_t>(i + 1);
  }
}

const TransliterationIndex& DosNameIndex() {
  static const TransliterationIndex index(kDosNameSource, kDosNameTarget);
  return index;
}

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Appends "u" and the code point in upper-case hex, at least four digits.
void AppendCodeOf(char32_t code_point, std::u16string& out) {
  char code[16];
  int length = std::snprintf(code, sizeof code, "u%04X",
                             static_cast<unsigned>(code_point));
  out.append(code, code + length);
}

}  // namespace

Transliteration Transliterate(std::u16string_view name,
                              const TransliterationIndex& index) {
  Transliteration out{std::u16string(), 0};
  out.text.reserve(name.size());
  for (std::size_t k = 0; k < name.size(); ++k) {
    Lookup hit = index.Find(name[k]);
    if (!hit.found) {
      char32_t code_point = name[k];
      if (IsHighSurrogate(name[k]) && k + 1 < name.size() &&
          IsLowSurrogate(name[k + 1])) {
        code_point = 0x10000 + ((code_point - 0xD800) << 10) +
                     (char32_t{name[k + 1]} - 0xDC00);
        ++k;
      }
      AppendCodeOf(code_point, out.text);  // not an error either
      continue;
    }
    out.text.push_back(hit.output);
    // A count that would pass 32767 stays there: the step that adds to it
    // fails and is skipped, and the name itself is still written out.
    if (hit.output == u' ' &&
        out.error_count < std::numeric_limits<int16_t>::max()) {
      ++out.error_count;
    }
  }
  return out;
}

std::u16string TransformationErrorMessage(int16_t error_count) {
  std::string digits = std::to_string(error_count);
  return u"Il y a eu " + std::u16string(digits.begin(), digits.end()) +
         u" erreur" + IIfValue(error_count > 1, u"s", u"") +
         u" de transformation Windows -> Dos";
}

std::u16string TransliterateAndReport(std::u16string_view name,
                                      const TransliterationIndex& index) {
  Transliteration result = Transliterate(name, index);
  if (result.error_count != 0) {
    platform::ShowMessageBox(TransformationErrorMessage(result.error_count),
                             u"Erreur");
  }
  return std::move(result.text);
}

}  // namespace dos_name_internal

std::u16string ToDosName(std::u16string_view name) {
  return dos_name_internal::TransliterateAndReport(
      LegacyBytesAsWindows1252(name), dos_name_internal::DosNameIndex());
}

}  // namespace vg::text
