// Decodes TIFF through libtiff, from memory. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_TIFF_DECODER_H_
#define VG_DECODERS_INTERNAL_TIFF_DECODER_H_

#include <cstdint>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// The most one allocation of libtiff may take for a decode (a strip, a tile,
// a tag's data); past it the file is refused. Room for a 16-bit RGBA strip
// of a picture at the pixel limit.
inline constexpr int64_t kMaxTiffAllocationBytes = int64_t{1} << 30;

// Decodes the first page of the TIFF file in `bytes` (see
// DecodePictureBytes): 1 to 16 bits a sample, grey, RGB, palette, CMYK,
// YCbCr and the other colour models libtiff's RGBA interface reads, striped
// or tiled, any compression libtiff has; grey or RGB of 12-bit or
// floating-point samples (16, 32 or 64 bits, 0.0 to 1.0) through
// TiffSampleReader. Samples of more than 12 bits compressed as JPEG are
// refused (481, saying so): libjpeg holds no such samples. Read a strip (or a
// row of tiles) at a time and reduced by a whole factor when the hint allows
// it. The orientation tag is applied, alpha composited on white (kept,
// straight, when the hint asks), and an RGB or grey ICC profile converted to
// sRGB (a CMYK file's inks are turned into RGB without its profile, as a CMYK
// JPEG without one is). libtiff's warnings and errors are never printed; an
// error is 481. Holds a lease from `budget`, taken before any
// pixel is allocated.
DecodedImage DecodeTiff(std::span<const uint8_t> bytes, const DecodeHint& hint,
                        DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_TIFF_DECODER_H_
