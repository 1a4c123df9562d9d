// File: text/legacy_bytes.h
//
// Reads the bytes of a file name that were not UTF-8 as Windows-1252, the
// 8-bit encoding old drives and zip archives most often hold ("caf\xE9.jpg").
// A listed name keeps such a byte as the lone surrogate U+DC80 + (byte - 0x80)
// (see platform/code_page.h); this turns it into the character Windows-1252
// gives that byte, so that the name's letters reach the transliteration.
//
//   std::u16string listed = vg::platform::FromAnsi("caf\xE9.jpg");
//   LegacyBytesAsWindows1252(listed);  // u"caf\u00E9.jpg"
//
// For making a new name only: the result no longer names the file on disk,
// which is still opened by its listed name. ToDosName applies it itself.
#ifndef VG_TEXT_LEGACY_BYTES_H_
#define VG_TEXT_LEGACY_BYTES_H_

#include <string>
#include <string_view>

namespace vg::text {

// Returns `name` with every lone U+DC80..U+DCFF replaced by the Windows-1252
// character of its byte (0x80 -> U+20AC, 0xE9 -> U+00E9, ...). The five bytes
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stay as they
// are, and so does every other code unit, a surrogate pair included even when
// its second half lies in that range. The result has the length of `name`.
std::u16string LegacyBytesAsWindows1252(std::u16string_view name);

}  // namespace vg::text

#endif  // VG_TEXT_LEGACY_BYTES_H_
