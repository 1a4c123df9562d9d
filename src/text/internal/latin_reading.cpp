#include "text/internal/latin_reading.h"

#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>

namespace vg::text::dos_name_internal {
namespace {

// Names are short; a text ICU's 32-bit lengths cannot hold is left as it is.
bool FitsIcu(std::u16string_view text) {
  return text.size() <=
         static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
}

icu::UnicodeString ToIcu(std::u16string_view text) {
  return {text.data(), static_cast<int32_t>(text.size())};
}

std::u16string FromIcu(const icu::UnicodeString& text,
                       std::u16string_view fallback) {
  if (text.isBogus()) return std::u16string(fallback);
  return {text.getBuffer(), static_cast<std::size_t>(text.length())};
}

// Building the transliterator parses its rules (a third of a millisecond);
// copying a built one costs microseconds. Never freed: worker threads may
// still copy it while the process exits.
const icu::Transliterator* Prototype() {
  static const icu::Transliterator* const prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    icu::Transliterator* made = icu::Transliterator::createInstance(
        icu::UnicodeString(u"Any-Latin; Latin-ASCII"), UTRANS_FORWARD, status);
    if (U_FAILURE(status)) {
      delete made;
      return static_cast<icu::Transliterator*>(nullptr);
    }
    return made;
  }();
  return prototype;
}

// One transliterator per thread: ICU does not promise that one object may
// transliterate for two threads at once, and the batch's workers name
// their pictures in parallel.
thread_local std::unique_ptr<icu::Transliterator> this_threads_latin;

icu::Transliterator* ThisThreadsTransliterator() {
  if (!this_threads_latin) {
    const icu::Transliterator* prototype = Prototype();
    if (prototype == nullptr) return nullptr;
    this_threads_latin.reset(prototype->clone());
  }
  return this_threads_latin.get();
}

}  // namespace

std::u16string Composed(std::u16string_view text) {
  if (!FitsIcu(text)) return std::u16string(text);
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) return std::u16string(text);
  const icu::UnicodeString source = ToIcu(text);
  if (nfc->isNormalized(source, status) && U_SUCCESS(status)) {
    return std::u16string(text);
  }
  status = U_ZERO_ERROR;
  icu::UnicodeString composed = nfc->normalize(source, status);
  if (U_FAILURE(status)) return std::u16string(text);
  return FromIcu(composed, text);
}

std::u16string LatinReading(std::u16string_view text) {
  // The names of one folder repeat their words ("\u6771\u4EAC 0001.jpg",
  // "\u6771\u4EAC 0002.jpg", ...), and a transliteration costs tens of
  // microseconds: each thread keeps the readings it made, up to a bound.
  // Only short texts are kept (a word of a name, not a whole long text),
  // so that the bound holds the memory to a few megabytes: a reading is at
  // most 22 units a unit.
  constexpr std::size_t kKeptReadings = 4096;
  constexpr std::size_t kLongestKept = 64;
  thread_local std::unordered_map<std::u16string, std::u16string> kept;
  std::u16string key(text);
  const bool keep = key.size() <= kLongestKept;
  if (keep) {
    if (auto it = kept.find(key); it != kept.end()) return it->second;
  }

  icu::Transliterator* latin = ThisThreadsTransliterator();
  if (latin == nullptr || !FitsIcu(text)) return key;
  icu::UnicodeString reading = ToIcu(text);
  latin->transliterate(reading);
  std::u16string out = FromIcu(reading, text);
  if (keep) {
    if (kept.size() >= kKeptReadings) kept.clear();
    kept.emplace(std::move(key), out);
  }
  return out;
}

UnreadKind KindOfUnread(char32_t code_point) {
  const auto c = static_cast<UChar32>(code_point);
  // Emoji are symbols too, but have no reading and nothing else to tell two
  // of them apart: they keep their code, as do the keycap and flag parts.
  if (u_hasBinaryProperty(c, UCHAR_EXTENDED_PICTOGRAPHIC) ||
      u_hasBinaryProperty(c, UCHAR_EMOJI_MODIFIER) ||
      u_hasBinaryProperty(c, UCHAR_REGIONAL_INDICATOR)) {
    return UnreadKind::kCode;
  }
  constexpr uint32_t kPunctuationSymbolsAndSpaces =
      U_GC_P_MASK | U_GC_S_MASK | U_GC_Z_MASK;
  if ((U_GET_GC_MASK(c) & kPunctuationSymbolsAndSpaces) != 0) {
    return UnreadKind::kUnderscore;
  }
  return UnreadKind::kCode;
}

}  // namespace vg::text::dos_name_internal
