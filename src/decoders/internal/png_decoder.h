// Decodes PNG row by row, shrunk on the fly by a whole factor when the hint
// leaves room for it: libpng reads the chunks, and the rows of
// non-interlaced files are inflated, unfiltered and expanded by png_rows.
// Internal to vg::decoders.
//
// Only the reduced picture and a few rows are held, so a PNG far larger
// than the pixel limit makes a thumbnail in little memory. A file whose
// stored rows take up to kPngWholeInflateBytes, and its compressed data
// as much, is inflated in one go, which is three times as fast. An
// interlaced (Adam7) PNG cannot be reduced before its last pass: it is read
// whole, and refused as too large when that alone is over
// kMaxPngInterlacedBytes.
#ifndef VG_DECODERS_INTERNAL_PNG_DECODER_H_
#define VG_DECODERS_INTERNAL_PNG_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// What the whole picture of an interlaced PNG may take, at 1 to 4 bytes a
// pixel after its rows are made 8-bit.
inline constexpr int64_t kMaxPngInterlacedBytes = int64_t{1} << 30;

// What the stored rows of a picture inflated in one go may take, and its
// file.
inline constexpr size_t kPngWholeInflateBytes = size_t{64} << 20;

// A PNG's gAMA and cHRM, in libpng's units of 1/100000.
struct PngGamma {
  int64_t gamma = 0;  // 0: no gAMA
  bool chrm = false;
  int64_t xy[8] = {};  // white, red, green, blue: x then y
};

// Returns true when the gAMA (with the cHRM, if any) says sRGB the way most
// writers say it: GIMP, ImageMagick and many more store gAMA 45455 (1/2.2)
// and sRGB's cHRM in sRGB files, and viewers show them as sRGB, not with a
// pure 2.2 curve that darkens the shadows. The tolerances are libpng's own,
// those by which it finds a gAMA or cHRM beside an sRGB chunk consistent
// with it (png_colorspace_set_sRGB).
bool GammaMeansSrgb(const PngGamma& g);

// Decodes the PNG in `bytes`. Any depth and colour type: 16-bit samples are
// rounded to 8, palettes and tRNS expanded, transparency composited on white
// or kept as the hint asks; an embedded ICC profile, or else a gAMA chunk
// (with its cHRM primaries), is converted to sRGB unless an sRGB chunk says
// it is sRGB already, or the gAMA is 1/2.2 and the cHRM, if any, sRGB's
// (within libpng's tolerances), as most writers mark sRGB. Holds a lease from
// `budget` for what it allocates. Raises 481 for a damaged or
// cut-short file, 7 for one too large (decode_picture.h).
DecodedImage DecodePng(std::span<const uint8_t> bytes, const DecodeHint& hint,
                       DecodeBudget& budget);
// The same with `whole_inflate_bytes` for kPngWholeInflateBytes (0: never
// whole), to read a small file the way a large one is read.
DecodedImage DecodePng(std::span<const uint8_t> bytes, const DecodeHint& hint,
                       DecodeBudget& budget, size_t whole_inflate_bytes);

// The same for the PNG file open as `fd` (a regular file, read from its
// start with pread, so its offset is left as it was): read as it is
// decoded, never whole, so its length is not limited. Raises 75 when the
// file cannot be read.
DecodedImage DecodePngFile(int fd, const DecodeHint& hint,
                           DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_PNG_DECODER_H_
