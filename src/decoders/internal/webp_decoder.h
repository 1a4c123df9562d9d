// Decodes WebP through libwebp, scaled down while decoding when the hint
// allows it. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_WEBP_DECODER_H_
#define VG_DECODERS_INTERNAL_WEBP_DECODER_H_

#include <cstdint>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// Returns the size (in the stored orientation) that libwebp scales a
// width x height picture to for `stored_hint`: the smallest that keeps
// ReducedScaleNeed in both directions and the picture's proportions, or
// the picture's own size when that is not larger.
struct WebpScaledSize {
  int32_t width;
  int32_t height;
};
WebpScaledSize ChooseWebpSize(int32_t width, int32_t height,
                              const DecodeHint& stored_hint);

// Decodes the WebP file in `bytes` (see DecodePictureBytes): lossy or
// lossless, with or without alpha (composited on white, or kept as the hint
// asks: a lossy picture with alpha is then reduced by a whole factor after
// decoding, since libwebp scales its colours unweighted by alpha); of an
// animation, the first frame alone. The EXIF orientation and the ICC profile
// of the file's RIFF chunks are applied. A file cut short is refused (481).
// Holds a lease from `budget`, taken before any pixel is
// allocated.
DecodedImage DecodeWebp(std::span<const uint8_t> bytes, const DecodeHint& hint,
                        DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_WEBP_DECODER_H_
