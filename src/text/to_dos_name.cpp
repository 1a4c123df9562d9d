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
#include "text/internal/latin_reading.h"
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

// Returns the code point at text[k] (a surrogate pair is one, a lone half
// its own) and moves k past it.
char32_t NextCodePoint(std::u16string_view text, std::size_t& k) {
  char32_t code_point = text[k++];
  if (IsHighSurrogate(text[k - 1]) && k < text.size() &&
      IsLowSurrogate(text[k])) {
    code_point = 0x10000 + ((code_point - 0xD800) << 10) +
                 (char32_t{text[k++]} - 0xDC00);
  }
  return code_point;
}

// Appends "u" and the code point in upper-case hex, at least four digits.
void AppendCodeOf(char32_t code_point, std::u16string& out) {
  char code[16];
  int length = std::snprintf(code, sizeof code, "u%04X",
                             static_cast<unsigned>(code_point));
  out.append(code, code + length);
}

// Appends the tables' output for `unit` and returns true, or returns false
// when the tables do not list it.
bool AppendListed(char16_t unit, const TransliterationIndex& index,
                  Transliteration& out) {
  Lookup hit = index.Find(unit);
  if (!hit.found) return false;
  out.text.push_back(hit.output);
  // A count that would pass 32767 stays there: the step that adds to it
  // fails and is skipped, and the name itself is still written out.
  if (hit.output == u' ' &&
      out.error_count < std::numeric_limits<int16_t>::max()) {
    ++out.error_count;
  }
  return true;
}

// Appends what becomes of `run`, characters the tables do not list: their
// Latin reading through the tables, and for what is still unlisted "_" or
// its code. A run read as nothing at all is taken as unread, so that no
// character vanishes without a trace.
void AppendReading(std::u16string_view run, const TransliterationIndex& index,
                   Transliteration& out) {
  std::u16string reading = LatinReading(run);
  if (reading.empty()) reading = run;
  for (std::size_t k = 0; k < reading.size();) {
    const std::size_t start = k;
    const char32_t code_point = NextCodePoint(reading, k);
    if (k - start == 1 && AppendListed(reading[start], index, out)) continue;
    if (KindOfUnread(code_point) == UnreadKind::kUnderscore) {
      out.text.push_back(u'_');
    } else {
      AppendCodeOf(code_point, out.text);  // not an error either
    }
  }
}

}  // namespace

Transliteration Transliterate(std::u16string_view name,
                              const TransliterationIndex& index) {
  const std::u16string composed = Composed(name);
  const std::u16string_view text = composed;
  Transliteration out{std::u16string(), 0};
  out.text.reserve(text.size());
  for (std::size_t k = 0; k < text.size();) {
    if (AppendListed(text[k], index, out)) {
      ++k;
      continue;
    }
    // The unlisted characters are read together: a reading depends on its
    // neighbours (syllables of one word, the final form of a letter).
    std::size_t end = k + 1;
    while (end < text.size() && !index.Find(text[end]).found) ++end;
    AppendReading(text.substr(k, end - k), index, out);
    k = end;
  }
  // A name read as "." or ".." would name the destination folder or the one
  // above it, not a file: its dots become "_".
  if ((out.text == u"." || out.text == u"..") && text != out.text) {
    out.text.assign(out.text.size(), u'_');
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
