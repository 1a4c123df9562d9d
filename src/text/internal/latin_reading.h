// Internal to vg::text: what ToDosName does with the characters its tables do
// not list. They are read in Latin letters by ICU's transliterator ("Any-Latin;
// Latin-ASCII": "\u65E5\u672C" -> "ri ben", "\u0152" -> "OE", "\u0141" -> "L");
// whatever the reading leaves outside the tables is then sorted by
// UnreadKind. Other modules call ToDosName only.
#ifndef VG_TEXT_INTERNAL_LATIN_READING_H_
#define VG_TEXT_INTERNAL_LATIN_READING_H_

#include <string>
#include <string_view>

namespace vg::text::dos_name_internal {

// Returns `text` in Unicode normalization form C, so that a letter written
// as a base and a combining accent ("e" U+0301, as some file systems store
// names) reaches the tables as the one letter ("\u00E9"). Lone surrogates
// pass through unchanged. Returns `text` unchanged if ICU fails.
std::u16string Composed(std::u16string_view text);

// Returns the Latin reading of `text` through "Any-Latin; Latin-ASCII":
// letters of other scripts spelled in ASCII, accents dropped, ligatures
// split, spaces kept where the reading separates words or syllables.
// What ICU cannot read (an emoji, a lone surrogate) is left as it is.
// Safe to call from any thread: the transliterator is built once per
// process and copied once per thread, and each thread keeps its last few
// thousand readings, since the names of a folder repeat their words.
// Returns `text` unchanged if ICU fails.
std::u16string LatinReading(std::u16string_view text);

// What becomes of a character that neither the tables nor the reading
// turned into something the tables list.
enum class UnreadKind {
  kUnderscore,  // punctuation, a symbol or a space: "\u20AC" and "!" -> "_"
  kCode,        // the rest (emoji, controls, lone surrogates, unassigned
                // code points, scripts ICU cannot read): "u1F600"
};

// Returns the kind of `code_point` by its Unicode properties.
UnreadKind KindOfUnread(char32_t code_point);

}  // namespace vg::text::dos_name_internal

#endif  // VG_TEXT_INTERNAL_LATIN_READING_H_
