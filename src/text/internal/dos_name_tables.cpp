// The two name tables, kept as the data they have always been rather than as
// the mapping they amount to: the index in to_dos_name.cpp is derived from
// them. Read a column pair as "the source character at position p becomes the
// target character at position p"; a character listed twice is decided by its
// first position (the space by 2, "&" by 6, "ô" by 95, "è" by 96), so the
// later copies, and every position holding a space in both tables, are never
// reached. No reachable target is a space.
//
// A character absent from the source table (such as "!", "À", "Œ" or any
// character above U+00FF) is not decided here: to_dos_name.cpp reads it in
// Latin letters and passes the reading through these tables. A failed
// lookup once repeated the previous output character, which merged
// "a!b.jpg" with "aab.jpg".
#include "text/internal/dos_name.h"

namespace vg::text::dos_name_internal {

// clang-format off
// Positions 1 to 94: the double quote, the space, then "#" to "~" in code
// order. Positions 95 to 223: Latin-1 letters and signs; unused positions
// hold a space in both tables, and positions 146, 194, 202 to 204 and 221
// pair a source space with a target letter or degree sign (unreachable).
const std::array<char16_t, kDosNameTableLength> kDosNameSource = {
    /*   1 */ u'"', u' ', u'#', u'$', u'%', u'&', u'\'', u'(', u')', u'*',
    /*  11 */ u'+', u',', u'-', u'.', u'/', u'0', u'1', u'2', u'3', u'4',
    /*  21 */ u'5', u'6', u'7', u'8', u'9', u':', u';', u'<', u'=', u'>',
    /*  31 */ u'?', u'@', u'A', u'B', u'C', u'D', u'E', u'F', u'G', u'H',
    /*  41 */ u'I', u'J', u'K', u'L', u'M', u'N', u'O', u'P', u'Q', u'R',
    /*  51 */ u'S', u'T', u'U', u'V', u'W', u'X', u'Y', u'Z', u'[', u'\\',
    /*  61 */ u']', u'^', u'_', u'`', u'a', u'b', u'c', u'd', u'e', u'f',
    /*  71 */ u'g', u'h', u'i', u'j', u'k', u'l', u'm', u'n', u'o', u'p',
    /*  81 */ u'q', u'r', u's', u't', u'u', u'v', u'w', u'x', u'y', u'z',
    /*  91 */ u'{', u'|', u'}', u'~', u'ô', u'è', u'&', u'Ç', u'ü', u'é',
    /* 101 */ u'â', u'ä', u'à', u'å', u'ç', u'ê', u'ë', u'è', u'ï', u'î',
    /* 111 */ u'ì', u'Ä', u'Å', u'É', u'æ', u'Æ', u'ô', u'ö', u'ò', u'û',
    /* 121 */ u'ù', u'ÿ', u'Ö', u'Ü', u'¢', u'£', u'¥', u' ', u' ', u'á',
    /* 131 */ u'í', u'ó', u'ú', u'ñ', u'Ñ', u'ª', u'º', u'¿', u' ', u'¬',
    /* 141 */ u'½', u'¼', u'¡', u'«', u'»', u' ', u' ', u' ', u' ', u' ',
    /* 151 */ u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
    /* 161 */ u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
    /* 171 */ u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
    /* 181 */ u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
    /* 191 */ u' ', u' ', u' ', u' ', u'ß', u' ', u'¶', u' ', u' ', u'µ',
    /* 201 */ u' ', u' ', u' ', u' ', u' ', u'ø', u' ', u' ', u' ', u'±',
    /* 211 */ u' ', u' ', u' ', u' ', u' ', u' ', u'°', u' ', u' ', u' ',
    /* 221 */ u' ', u'²', u' ',
};
const std::array<char16_t, kDosNameTableLength> kDosNameTarget = {
    /*   1 */ u'_', u'_', u'#', u'$', u'%', u'_', u'_', u'(', u')', u'_',
    /*  11 */ u'+', u'_', u'-', u'.', u'_', u'0', u'1', u'2', u'3', u'4',
    /*  21 */ u'5', u'6', u'7', u'8', u'9', u'_', u'_', u'_', u'_', u'_',
    /*  31 */ u'_', u'@', u'A', u'B', u'C', u'D', u'E', u'F', u'G', u'H',
    /*  41 */ u'I', u'J', u'K', u'L', u'M', u'N', u'O', u'P', u'Q', u'R',
    /*  51 */ u'S', u'T', u'U', u'V', u'W', u'X', u'Y', u'Z', u'[', u'_',
    /*  61 */ u']', u'_', u'_', u'_', u'a', u'b', u'c', u'd', u'e', u'f',
    /*  71 */ u'g', u'h', u'i', u'j', u'k', u'l', u'm', u'n', u'o', u'p',
    /*  81 */ u'q', u'r', u's', u't', u'u', u'v', u'w', u'x', u'y', u'z',
    /*  91 */ u'{', u'|', u'}', u'_', u'o', u'e', u'_', u'c', u'u', u'e',
    /* 101 */ u'a', u'a', u'a', u'a', u'c', u'e', u'e', u'e', u'i', u'i',
    /* 111 */ u'i', u'a', u'a', u'e', u'æ', u'Æ', u'o', u'o', u'o', u'u',
    /* 121 */ u'u', u'y', u'o', u'u', u'¢', u'£', u'¥', u' ', u' ', u'a',
    /* 131 */ u'i', u'o', u'u', u'n', u'n', u'ª', u'º', u'¿', u' ', u'¬',
    /* 141 */ u'½', u'¼', u'¡', u'«', u'»', u'°', u' ', u' ', u' ', u' ',
    /* 151 */ u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
    /* 161 */ u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
    /* 171 */ u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
    /* 181 */ u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ',
    /* 191 */ u' ', u' ', u' ', u'a', u'ß', u' ', u'¶', u' ', u' ', u'µ',
    /* 201 */ u' ', u'e', u'e', u'e', u' ', u'ø', u' ', u' ', u' ', u'±',
    /* 211 */ u' ', u' ', u' ', u' ', u' ', u' ', u'°', u' ', u' ', u' ',
    /* 221 */ u'u', u'²', u' ',
};
// clang-format on

}  // namespace vg::text::dos_name_internal
