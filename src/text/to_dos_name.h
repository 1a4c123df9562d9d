// File: text/to_dos_name.h
//
// The file-name transliteration applied to every listed picture before its
// thumbnail is written: each character goes through a fixed pair of
// character tables that turn accented Latin-1 letters into plain lower-case
// letters and characters awkward in file names (space, quotes, "&", "/",
// ":", "?", "*", ...) into "_"; the extension keeps its dot and its letters.
// A character the tables do not list is read in Latin letters by ICU's
// transliterator, and the reading goes through the same tables:
// "\u00C0 la plage.jpg" -> "A_la_plage.jpg", "\u0152uvre.jpg" ->
// "OEuvre.jpg", "\u65E5\u672C.jpg" -> "ri_ben.jpg". Punctuation and symbols
// that have no reading become "_" ("a!b.jpg" -> "a_b.jpg"); only what has no
// reading at all keeps the name apart by its code point in upper-case hex
// ("\U0001F600" -> "u1F600"). Bytes of the listed name that were not UTF-8
// are read as Windows-1252 first (LegacyBytesAsWindows1252 in
// text/legacy_bytes.h), so "caf\xE9.jpg" gives "cafe.jpg"; a byte that
// Windows-1252 leaves undefined keeps its escape's code ("\x81" -> "uDC81").
//
//   std::u16string out = ToDosName(u"\u00C9t\u00E9 24 n\u00B05.JPG");
//   // out == u"ete_24_n\u00B05.JPG"
//
// The batch calls ToDosName on the name as listed (platform::FromAnsi of the
// directory entry) and nothing else; the file itself is still opened by that
// listed name. Not one-to-one: names the tables or the readings merge
// ("\u00E9t\u00E9.jpg" and "ete.jpg", "a!b.jpg" and "a?b.jpg") give one
// name, and the batch names the picture it replaced among its failures.
// Safe to call from several threads at once.
#ifndef VG_TEXT_TO_DOS_NAME_H_
#define VG_TEXT_TO_DOS_NAME_H_

#include <string>
#include <string_view>

namespace vg::text {

// Returns `name` with every character replaced through the name tables, its
// Latin reading, "_" or its code; the result has the length of `name` when
// every character is in the tables (an empty name gives an empty result).
// Should a table entry ever produce a space, the number of such "transformation
// errors" is announced in a modal box titled "Erreur" through
// vg::platform::ShowMessageBox, and the call returns once it is closed; the
// shipped tables never do, so a batch is never stopped by it. Raises nothing.
std::u16string ToDosName(std::u16string_view name);

}  // namespace vg::text

#endif  // VG_TEXT_TO_DOS_NAME_H_
