// Decodes HEIF (HEIC) and AVIF through libheif. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_HEIF_DECODER_H_
#define VG_DECODERS_INTERNAL_HEIF_DECODER_H_

#include <cstdint>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// Decodes the primary image of the HEIF or AVIF file in `bytes` (see
// DecodePictureBytes) through libheif's HEVC (libde265) or AV1 (libaom or
// dav1d) decoder, at full size, then reduced by a whole factor when the hint
// allows it. When the hint asks for less than the full size and a thumbnail
// item of the image holds what it needs (ReducedScaleNeed in both hinted
// directions, upright) in the picture's proportions, the smallest such
// thumbnail is decoded instead (the picture when it fails); the logical
// size is still the picture's. The container's own rotation, mirror and crop
// are applied by libheif, once: the EXIF orientation tag, which describes the
// stored picture, is not applied again. Alpha is composited on white (kept,
// straight, when the hint asks), more than 8 bits a sample brought down to
// 8, an ICC profile converted to sRGB (a colour description by code points,
// nclx, is left as libheif's conversion to RGB leaves it). A file whose
// codec has no decoder here, or that libheif cannot read, is refused (481).
// Holds a lease from `budget`, taken before any pixel is
// allocated.
DecodedImage DecodeHeif(std::span<const uint8_t> bytes, const DecodeHint& hint,
                        DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_HEIF_DECODER_H_
