// Internal to vg::text: the name tables behind ToDosName and the pieces of its
// algorithm, exposed so that tests can drive them with tables of their own.
// Other modules call ToDosName only.
#ifndef VG_TEXT_INTERNAL_DOS_NAME_H_
#define VG_TEXT_INTERNAL_DOS_NAME_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vg::text::dos_name_internal {

inline constexpr std::size_t kDosNameTableLength = 223;

// The source and target tables, aligned by position (index 0 = position 1).
extern const std::array<char16_t, kDosNameTableLength> kDosNameSource;
extern const std::array<char16_t, kDosNameTableLength> kDosNameTarget;

// What a lookup decided for one code unit.
struct Lookup {
  bool found;       // false: the code unit is absent from the source table
  char16_t output;  // the target at the first position holding it; 0 if absent
};

// A direct index from every UTF-16 code unit to the first position at which
// it occurs in a source table, so that a lookup costs one load instead of a
// scan while the tables stay the data the mapping is derived from.
class TransliterationIndex {
 public:
  // Builds the index from two aligned tables; copies what it needs. Raises
  // vg::platform::Error 5 when the tables differ in length or hold 65535
  // positions or more.
  TransliterationIndex(std::span<const char16_t> source,
                       std::span<const char16_t> target);

  // Returns the decision for `ch`; the first position of `ch` wins.
  Lookup Find(char16_t ch) const {
    uint16_t position = first_position_[ch];
    if (position == 0) return {false, u'\0'};
    return {true, target_[position - 1]};
  }

 private:
  std::vector<uint16_t> first_position_;  // 65536 entries, 0 = absent
  std::u16string target_;
};

// Returns the index of the shipped tables, built on first use (thread-safe).
const TransliterationIndex& DosNameIndex();

struct Transliteration {
  std::u16string text;
  int16_t error_count;  // outputs that came out as a space, at most 32767
};

// Returns `name` rewritten through `index` with its count of transformation
// errors (a target that is a space). The name is first put in normalization
// form C. A run of characters absent from the source table is replaced by
// its Latin reading (latin_reading.h), which goes through `index` in turn;
// what the reading leaves unlisted becomes "_" when it is punctuation, a
// symbol or a space ("!", "\u20AC") and is otherwise written as "u" and its
// code point in upper-case hex, at least four digits ("u1F600"; a lone
// surrogate gives its own, "uDC81"). Neither is counted. A result of "." or
// ".." that the name did not spell itself becomes "_" or "__".
Transliteration Transliterate(std::u16string_view name,
                              const TransliterationIndex& index);

// Returns the text of the box that announces `error_count` transformation
// errors: "Il y a eu 3 erreurs de transformation Windows -> Dos".
std::u16string TransformationErrorMessage(int16_t error_count);

// Transliterates `name` through `index` and, when errors were counted, shows
// the announcement in a box titled "Erreur"; returns the rewritten name.
std::u16string TransliterateAndReport(std::u16string_view name,
                                      const TransliterationIndex& index);

}  // namespace vg::text::dos_name_internal

#endif  // VG_TEXT_INTERNAL_DOS_NAME_H_
