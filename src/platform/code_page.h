// File: platform/code_page.h
//
// Text inside the system is UTF-16; file names, registry strings and JPEG
// paths leave it in the platform's "ANSI" code page, which on Linux is UTF-8.
// Linux file names are bytes, not always valid UTF-8: a byte that does not
// belong to a valid sequence becomes the lone surrogate U+DC80 + (byte - 0x80)
// in UTF-16 and turns back into that very byte, so a listed file can always
// be opened again.
//
//   std::u16string name = FromAnsi(entry->d_name);
//   int fd = open(ToAnsi(folder + name).c_str(), O_RDONLY);
//
// Not a general converter: no other code page is offered.
#ifndef VG_PLATFORM_CODE_PAGE_H_
#define VG_PLATFORM_CODE_PAGE_H_

#include <string>
#include <string_view>

namespace vg::platform {

// Returns the UTF-16 form of `bytes`; never fails (see above for bytes that
// are not UTF-8).
std::u16string FromAnsi(std::string_view bytes);

// Returns the UTF-8 bytes of `text`; an escaped byte comes back as itself and
// any other lone surrogate as "?".
std::string ToAnsi(std::u16string_view text);

}  // namespace vg::platform

#endif  // VG_PLATFORM_CODE_PAGE_H_
