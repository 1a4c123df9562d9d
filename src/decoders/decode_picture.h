// File: decoders/decode_picture.h
//
// The picture decoders: a picture file (or its bytes) into top-down BGRX
// pixels and the size the picture reports. The format is decided by the
// file's first bytes, never by its extension:
//
//   JPEG   baseline and progressive, grey, RGB, CMYK and YCCK (Adobe-inverted
//          data recognised by the Adobe marker), through libjpeg-turbo; read
//          at a reduced DCT scale when the hint allows it
//   BMP    1, 4, 8, 16, 24 and 32 bits, RLE4 / RLE8, bit fields, top-down
//   ICO    the largest image of the icon; CUR likewise
//   GIF    the first frame
//   PNG    any depth
//   WMF    placeable or plain, drawn by libwmf
//   EMF    and the EMF records of EMF+ dual files, drawn by our own player
//          over QPainter (decoders/internal/emf_player.h lists its records)
//
// Transparent pixels (PNG, GIF, ICO, CUR, 32-bit BMP with an alpha mask) are
// composited on white. The EXIF orientation of a JPEG is applied (a phone's
// portrait photo comes out upright, its size swapped), and an embedded ICC
// profile is converted to sRGB.
//
// A metafile is drawn on white straight at the hinted size (never larger
// than its logical size, the free side in proportion; the logical size when
// the hint is 0). Its logical size, what `width` x `height` report, is taken
// at 96 dots per inch: a placeable WMF's box at its units per inch, a plain
// WMF's window extent, an EMF's frame (its bounds when the frame is empty)
// -- never the box of what it draws. Its records are walked before any is
// drawn: a record past the end of the file, more than 2^20 records, a
// bitmap over the limits or larger than its record, or a drawing that takes
// over 5 seconds make it an invalid picture.
//
// The formats read through QtGui are reduced by a whole factor (each pixel
// the mean of a square block) when the hint leaves as much room as a
// reduced JPEG keeps.
//
// A JPEG cut short decodes as far as its data goes and the rest comes out
// grey, as in most viewers; it fails only when its data ends before the
// first row of blocks is complete. Damaged JPEG data decodes as well as it
// can, silently. A BMP cut short is grey where it holds no rows, and pixels
// that its runs skip take the first colour of its palette. Other damage
// fails or not as QtGui's readers decide; no pixel ever comes from memory
// that nothing wrote.
//
//   DecodedImage image = DecodePictureFile(u"/photos/in/a.jpg", {150, 0});
//   // image.width x image.height: the picture's own size, for the layout;
//   // image.pixel_width x image.pixel_height: what `bgrx` holds (>= 300 wide
//   // here when the picture is wider than that).
//
// Not for writing pictures, nor for animation, multi-page files or metadata
// beyond orientation and colour profile.
#ifndef VG_DECODERS_DECODE_PICTURE_H_
#define VG_DECODERS_DECODE_PICTURE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vg::decoders {

// Limits checked against what a file's header claims, before any pixel
// memory is allocated; a picture over them is an invalid picture (481).
inline constexpr int32_t kMaxPictureSidePx = 65535;
inline constexpr int64_t kMaxPicturePixels = int64_t{1} << 27;  // 134 MP
// Files longer than this are not read at all (481).
inline constexpr int64_t kMaxPictureFileBytes = int64_t{256} << 20;

// A JPEG is decoded at the smallest scale M/8 whose output is still at least
// 5/2 times the hinted target size in both directions, so that the scaling
// that follows has enough pixels to average. (At 1/8 each pixel is the mean
// of its 8 x 8 block; a margin of only 2 left 2560-wide photos at 2.1 times
// a 150-pixel target, and their thumbnails 0.2 dB further from an ideal
// resize of the full picture.)
inline constexpr int32_t kReducedScaleMarginNumerator = 5;
inline constexpr int32_t kReducedScaleMarginDenominator = 2;

// The pixels a reduced decode must keep along a side drawn `target_px`
// long: the margin above, rounded up (0 when the side is free).
constexpr int64_t ReducedScaleNeed(int32_t target_px) {
  return (int64_t{target_px} * kReducedScaleMarginNumerator +
          kReducedScaleMarginDenominator - 1) /
         kReducedScaleMarginDenominator;
}

// The size in pixels the picture will be drawn at. 0 in both means the full
// size is needed; 0 in one only leaves that direction free (the other one
// decides). Given in the picture's upright orientation.
struct DecodeHint {
  int32_t target_width_px = 0;
  int32_t target_height_px = 0;
};

struct DecodedImage {
  // Logical size in pixels, after the EXIF orientation: what the picture
  // reports, whatever scale it was decoded at.
  int32_t width = 0;
  int32_t height = 0;
  // Size of the decoded pixels, also upright: smaller than width x height
  // when the picture was decoded reduced for the hint.
  int32_t pixel_width = 0;
  int32_t pixel_height = 0;
  int32_t stride_bytes = 0;  // pixel_width * 4
  // Top-down rows, 4 bytes per pixel: blue, green, red, 255.
  std::vector<uint8_t> bgrx;
};

// Reads and decodes the picture file at `path` (UTF-16; "/" separates
// folders; converted to the platform's code page byte-exactly, so a name that
// is not UTF-8 opens too). `hint` lets the picture be decoded reduced.
// Raises platform::Error 53 (File not found) for a missing file or an empty
// path, 75 (Path/File access error) for a file that exists but cannot be
// read (a folder, no permission), 481 (Invalid picture) for anything that is
// not a picture of a supported format, is damaged beyond use, or claims a
// size over the limits above, and 7 (Out of memory) when memory runs out
// within the limits. Never exits the process.
DecodedImage DecodePictureFile(std::u16string_view path,
                               const DecodeHint& hint = {});

// Tunes the C library's allocator for a batch of decodes: large decode
// buffers kept in one heap and reused from one picture to the next, and the
// heap's first pages advised for 2 MB pages (decoders/internal/
// jpeg_decoder.cpp says why and what it gained). Call it once from main,
// before any other thread starts; without it, decodes are slower, not wrong.
void TuneAllocatorForBatches();

// Decodes a picture held in memory; `bytes` is only read during the call.
// Raises 481 or 7 as DecodePictureFile does.
DecodedImage DecodePictureBytes(std::span<const uint8_t> bytes,
                                const DecodeHint& hint = {});

}  // namespace vg::decoders

#endif  // VG_DECODERS_DECODE_PICTURE_H_
