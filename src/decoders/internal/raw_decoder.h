// Decodes camera RAW files through libraw: the embedded preview when it is
// large enough, else the sensor data at half or full size. Internal to
// vg::decoders.
#ifndef VG_DECODERS_INTERNAL_RAW_DECODER_H_
#define VG_DECODERS_INTERNAL_RAW_DECODER_H_

#include <cstdint>
#include <optional>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// Returns the EXIF orientation (1 to 8) that libraw's `flip` value
// (0, 1, 2, 3, 4, 5, 6 or 7) stands for; 1 for anything else.
int OrientationOfRawFlip(int flip);

// Decodes the camera RAW file in `bytes` (see DecodePictureBytes), or
// returns nothing when libraw does not take it for one: a file whose
// structure libraw does not recognise, or a TIFF-shaped file with neither a
// DNG version nor a camera maker (an ordinary TIFF, for the TIFF reader).
//
// The embedded JPEG preview is used when it holds at least what the hint
// needs (ReducedScaleNeed in both directions; with no hint, the picture's
// full size), decoded by the JPEG reader at its reduced scale; most
// cameras embed one of the sensor's full size. Otherwise the sensor data
// is developed (camera white balance, sRGB, 8 bits) at half size when that
// still covers the need, else at full size, then reduced by a whole factor.
// The camera's orientation is applied once: to the developed picture, and
// to the preview unless the preview carries an orientation of its own.
// The logical size is the developed picture's, upright. When the sensor
// data cannot be developed (cut short, damaged, or out of memory), the
// preview stands in at whatever size it has. Raises 481 when a recognised
// file cannot be read and has no preview that decodes, 7 when memory runs
// out and there is no such preview. Holds a lease from
// `budget` for the development, taken before it allocates.
std::optional<DecodedImage> DecodeRaw(std::span<const uint8_t> bytes,
                                      const DecodeHint& hint,
                                      DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_RAW_DECODER_H_
