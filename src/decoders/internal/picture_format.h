// Recognises a picture's format from its first bytes. Internal to
// vg::decoders; the formats and what is done with each are in
// decoders/picture_formats.h.
#ifndef VG_DECODERS_INTERNAL_PICTURE_FORMAT_H_
#define VG_DECODERS_INTERNAL_PICTURE_FORMAT_H_

#include <cstdint>
#include <span>

#include "decoders/picture_formats.h"

namespace vg::decoders::decoders_internal {

using decoders::PictureFormat;

// Returns the format that `bytes` start with.
PictureFormat SniffPictureFormat(std::span<const uint8_t> bytes);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_PICTURE_FORMAT_H_
