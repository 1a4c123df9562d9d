// File: text/to_dos_name.h
//
// The file-name transliteration applied to every listed picture before its
// thumbnail is written: each UTF-16 code unit goes through a fixed pair of
// character tables that turn accented Latin-1 letters into plain lower-case
// letters and characters awkward in file names (space, quotes, "&", "/",
// ":", "?", "*", ...) into "_". The output always has exactly as many code
// units as the input, so the extension keeps its dot and its letters.
//
//   std::u16string out = ToDosName(u"\u00C9t\u00E9 24 n\u00B05.JPG");
//   // out == u"ete_24_n\u00B05.JPG"
//
// Not a general Unicode transliterator: a code unit that the tables do not
// list (for instance "!", "\u00C0", "\u0153" or either half of a surrogate
// pair) becomes "_", so two names that differ only there can collide.
#ifndef VG_TEXT_TO_DOS_NAME_H_
#define VG_TEXT_TO_DOS_NAME_H_

#include <string>
#include <string_view>

namespace vg::text {

// Returns `name` with every code unit replaced through the name tables; the
// result has the same length as `name` (an empty name gives an empty result).
// Should a table entry ever produce a space, the number of such "transformation
// errors" is announced in a modal box titled "Erreur" through
// vg::platform::ShowMessageBox, and the call returns once it is closed; the
// shipped tables never do, so a batch is never stopped by it. Raises nothing.
std::u16string ToDosName(std::u16string_view name);

}  // namespace vg::text

#endif  // VG_TEXT_TO_DOS_NAME_H_
