// File: platform/case_fold.h
//
// Locale-free simple case folding of UTF-16 code units, for comparisons "as
// text": file-name patterns and substring searches that ignore case. Covers
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic, which is what file
// names on a European desktop hold; other code units compare exactly.
//
//   if (FoldCase(a) == FoldCase(b)) ...   // "Thumbs.DB" matches "thumbs.db"
//
// Not a full Unicode folding: no one-to-many mappings ("ß" stays "ß").
#ifndef VG_PLATFORM_CASE_FOLD_H_
#define VG_PLATFORM_CASE_FOLD_H_

#include <string>
#include <string_view>

namespace vg::platform {

// Returns the lower-case form of one code unit (itself when it has none).
char16_t FoldCase(char16_t c);

// Returns `text` with every code unit folded.
std::u16string FoldCase(std::u16string_view text);

}  // namespace vg::platform

#endif  // VG_PLATFORM_CASE_FOLD_H_
