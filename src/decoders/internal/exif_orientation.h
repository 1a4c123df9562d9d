// Reads the orientation tag of an EXIF block. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_EXIF_ORIENTATION_H_
#define VG_DECODERS_INTERNAL_EXIF_ORIENTATION_H_

#include <cstdint>
#include <span>

namespace vg::decoders::decoders_internal {

// Returns the orientation (1 to 8) that the EXIF block `app1` states: the
// payload of a JPEG APP1 marker, starting with "Exif\0\0" and a TIFF header.
// Returns 1 (upright) when the block is not EXIF, has no orientation tag, is
// cut short or holds a value outside 1 to 8.
int ExifOrientation(std::span<const uint8_t> app1);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_EXIF_ORIENTATION_H_
