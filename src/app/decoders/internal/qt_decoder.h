// Decodes BMP, ICO, CUR, GIF and PNG through QtGui's image readers.
// Internal to vg::decoders.
#ifndef VG_APP_DECODERS_INTERNAL_QT_DECODER_H_
#define VG_APP_DECODERS_INTERNAL_QT_DECODER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "app/decoders/decode_picture.h"
#include "app/decoders/internal/picture_format.h"

namespace vg::decoders::decoders_internal {

// Returns the images of an icon or cursor directory to try, best first: the
// largest (then the deepest, for icons) of those whose data lies wholly
// inside the file. Entries that point outside the file are left out.
std::vector<int> IconCandidates(std::span<const uint8_t> bytes,
                                PictureFormat format);

// Decodes `bytes`, already recognised as `format` (kBmp, kIco, kCur, kGif or
// kPng), at full size. Works without a QGuiApplication and from several
// threads at once. Raises 481 or 7 as DecodePictureBytes does.
DecodedImage DecodeWithQt(std::span<const uint8_t> bytes, PictureFormat format);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_APP_DECODERS_INTERNAL_QT_DECODER_H_
