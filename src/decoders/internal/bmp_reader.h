// Reads the BMPs that QtGui reads wrong: bit fields of any width (QtGui
// widens a channel by shifting, so a 5-bit one tops out at 248 and one of
// more than 8 bits goes black), and 16-, 24- or 32-bit pictures whose V5
// header embeds an ICC profile (QtGui ignores it). Internal to vg::decoders.
//
//   if (std::optional<DecodedImage> image = DecodeBmp(bytes, hint)) ...
//
// Not for palettes or run-length encoding: QtGui reads those.
#ifndef VG_DECODERS_INTERNAL_BMP_READER_H_
#define VG_DECODERS_INTERNAL_BMP_READER_H_

#include <cstdint>
#include <optional>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// The BITMAPV5HEADER's colour space of a profile held in the file
// ('MBED').
inline constexpr uint32_t kBmpProfileEmbedded = 0x4D424544;

// Decodes the BMP file in `bytes` (see DecodePictureBytes) when it is one
// of those above; returns nothing for any other BMP, to be read by QtGui.
//
// Each channel of a bit field is scaled from its own width to 8 bits,
// rounded (a 10-bit 1023 and a 5-bit 31 are both 255); an alpha mask (a
// BITMAPV3 header or later, or BI_ALPHABITFIELDS) gives alpha, composited
// on white unless the hint keeps it. An embedded profile whose data lies
// inside the file converts the colours to sRGB; a damaged one is ignored.
// Rows the file does not hold are grey. Reduced by a whole factor when the
// hint allows it. Raises 481 for a header that contradicts itself and 7 (or
// "too large") as DecodePictureBytes does. Holds a lease from `budget`,
// taken before any pixel is allocated.
std::optional<DecodedImage> DecodeBmp(std::span<const uint8_t> bytes,
                                      const DecodeHint& hint,
                                      DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_BMP_READER_H_
