// File: thumbnail/png_thumbnail.h
//
// Thumbnails as the desktop keeps them: the picture fitted in a square box
// (its longer side the box's, never enlarged), scaled with the kernel of
// image/stretch.h, and written as a PNG -- RGB, or RGBA when the picture
// has transparency -- with text entries, whole or not at all.
//
//   decoders::DecodedImage image = decoders::DecodePictureFile(path, hint);
//   BoxThumbnail thumb = ScaleIntoBox(image, 256);
//   std::string why = WritePng(thumb, "/tmp/out.png",
//                              {{"Software", "Vignettes"}}, 0600, false);
//
// Not for the engine's JPEG thumbnails (thumbnail/make.h).
#ifndef VG_THUMBNAIL_PNG_THUMBNAIL_H_
#define VG_THUMBNAIL_PNG_THUMBNAIL_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "decoders/decode_picture.h"

namespace vg::thumbnail {

struct PixelSize {
  int32_t width = 0;
  int32_t height = 0;
};

// Returns the size of a `width` x `height` picture fitted in a box of
// `box_px` pixels: the longer side `box_px`, the other in proportion,
// rounded half to even, at least 1; the picture's own size when it fits
// already. {0, 0} for an empty picture or box.
PixelSize FitInBox(int32_t width, int32_t height, int32_t box_px);

// Returns the decode hint that serves every box up to `box_px` for a
// picture whose orientation is not known yet.
decoders::DecodeHint BoxHint(int32_t box_px);

// A scaled picture, top-down rows without padding: red, green, blue (and
// alpha, straight, when has_alpha), one byte each.
struct BoxThumbnail {
  int32_t width = 0;
  int32_t height = 0;
  bool has_alpha = false;
  std::vector<uint8_t> pixels;
};

// Scales `image` (its decoded pixels, standing for its logical size) into
// a box of `box_px` pixels (FitInBox). With `has_alpha`, the image's
// fourth bytes are its straight alpha, and colours are scaled weighted by
// it. Raises platform::Error 7 when memory runs out.
BoxThumbnail ScaleIntoBox(const decoders::DecodedImage& image, int32_t box_px,
                          bool has_alpha);

// Text entries of a PNG: key, then value (Latin-1 keys; values as bytes).
using PngText = std::vector<std::pair<std::string, std::string>>;

// Encodes `thumb` as a PNG with `text` before the pixels into `bytes`.
// Returns an empty text when done, else why not.
std::string EncodePng(const BoxThumbnail& thumb, const PngText& text,
                      std::vector<uint8_t>* bytes);

// Writes `thumb` as a PNG at `path` with `text` before the pixels, through
// a temporary file in the same folder and a rename (platform/
// replace_file.h); the file gets `mode` (0: what a new file gets), and is
// flushed to disk first only when `sync`. Returns an empty text when
// written, else why not.
std::string WritePng(const BoxThumbnail& thumb, const std::string& path,
                     const PngText& text, mode_t mode, bool sync);

}  // namespace vg::thumbnail

#endif  // VG_THUMBNAIL_PNG_THUMBNAIL_H_
