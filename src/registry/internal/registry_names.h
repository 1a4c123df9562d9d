// Name handling of the registry store: case folding and key paths.
// Internal to the registry module; do not use from other modules.
#ifndef VG_REGISTRY_INTERNAL_REGISTRY_NAMES_H_
#define VG_REGISTRY_INTERNAL_REGISTRY_NAMES_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vg::platform::registry_internal {

// Returns the form under which a name is compared: every character upper-
// cased with the Unicode simple mapping, bytes that are not UTF-8 kept as
// they are. Two names are the same name when their folds are equal.
std::string FoldName(std::string_view name);

// Returns the length of a UTF-8 name in UTF-16 code units (a byte that is
// not UTF-8 counts as one).
size_t NameLengthChars(std::string_view name);

// Splits a key path at its backslashes. Returns nullopt when an element is
// empty (one trailing backslash excepted) or longer than the key name limit.
// The views point into `path`.
std::optional<std::vector<std::string_view>> SplitKeyPath(
    std::string_view path);

}  // namespace vg::platform::registry_internal

#endif  // VG_REGISTRY_INTERNAL_REGISTRY_NAMES_H_
