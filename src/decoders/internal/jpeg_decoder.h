// Decodes JPEG through libjpeg-turbo, at a reduced DCT scale when the hint
// allows it; a progressive file is read without it at 1/8 (its DC scans
// alone, jpeg_dc.h) and at 2/8 and 4/8 (jpeg_reduced.h). Internal to
// vg::decoders.
#ifndef VG_DECODERS_INTERNAL_JPEG_DECODER_H_
#define VG_DECODERS_INTERNAL_JPEG_DECODER_H_

#include <cstdint>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// The most scans a progressive JPEG may have; past it the file is refused
// (a crafted file can otherwise spend minutes on empty scans).
inline constexpr int kMaxJpegScans = 1000;
// What libjpeg may hold for one decode besides the output pixels (the
// coefficients of a progressive JPEG, whatever the scale). A file whose
// coefficients alone are over it is refused up front as too large (7).
inline constexpr long kMaxJpegWorkingBytes = 1L << 30;

// Returns the scale numerator M (1 to 8, of M/8) that DecodeJpeg picks for a
// stored picture of `width` x `height` pixels and a `hint` given in the same
// orientation: the smallest whose output is at least 7/4 times the hint
// (JpegScaleNeed) in both directions, 8 when no smaller one is,
// rounded up to 1, 2, 4 or 8 unless that holds more than kMaxPicturePixels.
// A sequential (not `progressive`) file takes 1/8 only with 9/4 of the
// hint (JpegSequentialEighthNeed).
int32_t ChooseJpegScale(int32_t width, int32_t height, const DecodeHint& hint,
                        bool progressive);

// Decodes the JPEG in `bytes` (see DecodePictureBytes). A file cut short
// decodes as far as its data goes and the rest comes out grey, as in most
// viewers; it is refused (481) only when its data ends before the first row
// of blocks of its first scan is complete, so that nothing of it would show.
DecodedImage DecodeJpeg(std::span<const uint8_t> bytes, const DecodeHint& hint,
                        DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_JPEG_DECODER_H_
