// File: registry/tool/reg_text.h
//
// Text forms of registry values for vignettes-reg: how `query` shows data,
// how `add` reads it from the command line, and the lines of an export file.
//
//   ShowData(REG_DWORD, "\x96\0\0\0");                   // "0x96"
//   ExportLine("n", REG_DWORD, "\x96\0\0\0");            //
//   "\"n\"=dword:00000096"
//
// Not a parser of export files.
#ifndef VG_REGISTRY_TOOL_REG_TEXT_H_
#define VG_REGISTRY_TOOL_REG_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vg::registry::tool {

// Returns "REG_SZ", "REG_DWORD"... or "REG_0x1234" for a type without a name.
std::string TypeName(uint32_t type);

// Returns the type named `name` (case-insensitive, REG_ prefix required), or
// nullopt for a name that `add` does not take.
std::optional<uint32_t> ParseTypeName(std::string_view name);

// Returns the data as `query` shows it: strings up to their NUL, string lists
// joined by "\0", DWORD and QWORD as 0x hex numbers, anything else (and
// numbers of the wrong size) as upper-case hex bytes.
std::string ShowData(uint32_t type, std::string_view data);

// Returns the bytes that `add` stores for `text` given as type `type`:
// strings with their NUL, lists split at `separator` (each item with its
// NUL, then one more NUL), numbers in decimal or 0x hex (little-endian), hex
// bytes for binary and other types. nullopt when `text` does not fit the
// type.
std::optional<std::string> ParseData(uint32_t type, std::string_view text,
                                     std::string_view separator);

// Returns one value line of an export file: `@=` for the unnamed value, else
// the quoted name, then "quoted text" for a plain string, dword:xxxxxxxx for
// a four-byte DWORD, hex:.. for binary, hex(type):.. for anything else.
std::string ExportLine(std::string_view name, uint32_t type,
                       std::string_view data);

}  // namespace vg::registry::tool

#endif  // VG_REGISTRY_TOOL_REG_TEXT_H_
