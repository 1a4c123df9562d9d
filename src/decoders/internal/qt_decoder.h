// Decodes BMP, ICO, CUR, GIF and PNG through QtGui's image readers.
// Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_QT_DECODER_H_
#define VG_DECODERS_INTERNAL_QT_DECODER_H_

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_format.h"

namespace vg::decoders::decoders_internal {

// Returns false when a chunk of the PNG file `png` claims more bytes than the
// file has left (or more than PNG allows). Such a file is cut short or
// crafted, and QtGui's reader can spend seconds and a gigabyte on one chunk
// length before it fails.
bool PngChunksFit(std::span<const uint8_t> png);

// A size in pixels as a header states it.
struct StatedSize {
  int64_t width;
  int64_t height;
};

// Returns the size that a BMP, GIF or PNG header states, before QtGui
// allocates anything for it: for a GIF, the screen widened to hold the first
// frame, which is what QtGui allocates. Nothing when the header is cut short.
std::optional<StatedSize> HeaderSize(std::span<const uint8_t> bytes,
                                     PictureFormat format);

// Returns the size stated by the header of an icon's image (a PNG file or a
// device-independent bitmap with its mask), or nothing when neither is there.
std::optional<StatedSize> EmbeddedIconSize(std::span<const uint8_t> image);

// Returns the images of an icon or cursor directory to try, best first: the
// largest by their own headers (then the deepest, for icons). Entries whose
// data does not lie wholly inside the file, or whose header is missing or
// over the picture limits, are left out.
std::vector<int> IconCandidates(std::span<const uint8_t> bytes,
                                PictureFormat format);

// Decodes `bytes`, already recognised as `format` (kBmp, kIco, kCur, kGif or
// kPng), reduced by an integer factor when `hint` leaves room for it as it
// does for a reduced JPEG. Holds a lease from `budget` for
// the picture Qt reads and the result, taken before either is allocated.
// Works without a QGuiApplication and from several threads at once. Raises
// 481 or 7 as DecodePictureBytes does.
DecodedImage DecodeWithQt(std::span<const uint8_t> bytes, PictureFormat format,
                          const DecodeHint& hint, DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_QT_DECODER_H_
