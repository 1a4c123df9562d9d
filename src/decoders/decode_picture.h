// File: decoders/decode_picture.h
//
// The picture decoders: a picture file (or its bytes) into top-down BGRX
// pixels and the size the picture reports. The format is decided by the
// file's first bytes, never by its extension:
//
//   JPEG   baseline and progressive, grey, RGB, CMYK and YCCK (Adobe-inverted
//          data recognised by the Adobe marker), through libjpeg-turbo; read
//          at a reduced DCT scale when the hint allows it
//   BMP    1, 4, 8, 16, 24 and 32 bits, RLE4 / RLE8, bit fields of any
//          width (each channel scaled to 8 bits), top-down, a V5 header's
//          embedded profile
//   ICO    the largest image of the icon; CUR likewise
//   GIF    the first frame
//   PNG    any depth, through libpng, read row by row and reduced as it is
//          read when the hint allows it
//   WebP   lossy or lossless, through libwebp, scaled while decoding when
//          the hint allows it; of an animation, the first frame
//   TIFF   the first page, through libtiff: 1 to 16 bits a sample, grey,
//          RGB, palette, CMYK, YCbCr; grey or RGB of 12 bits or floating
//          point (16, 32, 64 bits; 0.0 to 1.0 is black to white); striped
//          or tiled; read a strip (or a row of tiles) at a time
//   HEIF   HEIC (HEVC) and AVIF (AV1), the primary image, through libheif;
//          its thumbnail item instead when that holds what the hint needs
//   RAW    camera RAW files through libraw (DNG, CR2, CR3, CRW, NEF, ARW,
//          RAF, ORF, RW2, PEF, SRW...): the embedded JPEG preview when it
//          holds what the hint needs, else the sensor data developed at
//          half (or, when that is too small, full) size; the preview,
//          whatever its size, when the sensor data cannot be developed (cut
//          short or damaged). Most RAW files are
//          TIFF-shaped: one that libraw recognises and that has a DNG
//          version or a camera maker is a RAW, any other a TIFF.
//   WMF    placeable or plain, translated to EMF and drawn by the same
//          player
//   EMF    and the EMF records of EMF+ dual files, drawn by our own player
//          over QPainter (decoders/internal/emf_player.h lists its records);
//          an EMF+-only file from its EMF+ records (emf_plus.h), 481
//          "EMF+ only" when none of them could be drawn
//
// Transparent pixels (PNG, GIF, ICO, CUR, 32-bit BMP with an alpha mask,
// WebP, TIFF, HEIF) are composited on white, unless the hint asks to keep
// them (keep_alpha, below). Every picture comes out
// upright, its size swapped where it is turned: the EXIF orientation of a
// JPEG or a WebP, a TIFF's orientation tag, a RAW's camera orientation,
// and for HEIF the container's own rotation and mirror (its EXIF tag, which
// describes the stored picture, is not applied again). An embedded ICC
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
// PNG and the formats without a reduced decode of their own (those read
// through QtGui, TIFF, HEIF, developed RAW) are reduced by a whole factor (each
// pixel the mean of a square block) when the hint leaves as much room as a
// reduced JPEG keeps.
//
// With keep_alpha, a picture that has pixels less than opaque comes back
// with has_alpha set and the fourth byte of each pixel its alpha: straight,
// not premultiplied (0 transparent, 255 opaque); a pixel of alpha 0 is
// 0, 0, 0, 0. A reduced picture's colours are weighted by alpha (a block's
// mean is its premultiplied mean divided by its mean alpha), so the colours
// under transparent pixels never bleed into its edges; a lossy WebP with
// alpha, whose colours libwebp scales unweighted, is decoded whole for it
// and reduced by a whole factor. A picture with no such pixel (a JPEG, RAW
// or metafile never has one) comes out as without keep_alpha, byte for
// byte, has_alpha false.
//
// A JPEG cut short decodes as far as its data goes and the rest comes out
// grey, as in most viewers; it fails only when its data ends before the
// first row of blocks is complete. Damaged JPEG data decodes as well as it
// can, silently. A BMP cut short is grey where it holds no rows, and pixels
// that its runs skip take the first colour of its palette; so is a TIFF
// whose strips end early. A PNG cut short or damaged in its pixel data
// fails, as does a WebP or HEIF cut short. Other damage fails or not as
// their libraries decide; no pixel ever comes from memory
// that nothing wrote.
//
//   DecodedImage image = DecodePictureFile(u"/photos/in/a.jpg", {150, 0});
//   // image.width x image.height: the picture's own size, for the layout;
//   // image.pixel_width x image.pixel_height: what `bgrx` holds (>= 225 wide
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

// Limits on what a decode allocates, checked against what a file's header
// claims before any pixel memory is allocated. The picture itself may be
// larger: a JPEG is decoded at a reduced DCT scale and a PNG shrunk as its
// rows are read, when the hint allows it, and only what the decode holds
// must fit. A picture that cannot be decoded within them fails with 7 (Out
// of memory) described as "Picture too large: W × H (why)"; that error never
// says the picture is invalid.
//
// Pixels a decode may hold: its output, once reduced for the hint.
inline constexpr int32_t kMaxPictureSidePx = 65535;
inline constexpr int64_t kMaxPicturePixels = int64_t{1} << 27;  // 134 MP
// Files read whole into memory (every format but PNG, which is read as it
// is decoded) longer than this are not read at all: a 20 000 x 10 000 JPEG
// panorama takes about 90 MB, a 16-bit BMP at the pixel limit 256 MB.
inline constexpr int64_t kMaxPictureFileBytes = int64_t{1} << 30;

// A JPEG is decoded at the smallest scale M/8 whose output is still at least
// 7/4 times the hinted target size in both directions, so that the scaling
// that follows has pixels to average (M rounded up to 1, 2, 4 or 8, the
// scales libjpeg-turbo decodes fastest); the other formats that reduce while
// they decode (PNG, TIFF, WebP, HEIF, RAW and those read through QtGui, by
// whole factors or block means) keep 3/2. Both chosen by measurement
// (bench/README.md, "The decode scale"): from 5/2 down to 3/2 the
// thumbnails stay closer to an ideal resize than vipsthumbnail's while they
// take 14-23 % less CPU at 150 pixels and 13-30 % at 450 (a progressive
// photo read at 1/8 skips its AC scans); but a JPEG's reduced inverse DCT
// filters less well than a block mean, and at 450 pixels a margin of 3/2
// left camera photos 0.16 dB behind Pillow's (which decodes at twice the
// width); 7/4 brings them within 0.03 dB for about 12 % more time there.
// Below 3/2 the loss grows: at a margin of 1, 450-pixel thumbnails lose
// up to 0.003 SSIM-Y more, and a 3-tap sharpening of the 1/8 picture's
// block means wins back no more than 0.0002.
inline constexpr int32_t kReducedScaleMarginNumerator = 3;
inline constexpr int32_t kReducedScaleMarginDenominator = 2;
inline constexpr int32_t kJpegScaleMarginNumerator = 7;
inline constexpr int32_t kJpegScaleMarginDenominator = 4;
// A sequential JPEG reads every coefficient at every scale, so that 2/8
// costs it little more than 1/8 (the inverse DCT and four times the
// pixels): it is read at 1/8, as block means, only with 9/4 of the target
// to spare. A progressive one read at 1/8 skips its AC scans, which pays
// for the softer thumbnail.
inline constexpr int32_t kJpegSequentialEighthMarginNumerator = 9;
inline constexpr int32_t kJpegSequentialEighthMarginDenominator = 4;

// The pixels a reduced decode must keep along a side drawn `target_px`
// long with a margin of numerator/denominator, rounded up (0 when the side
// is free).
constexpr int64_t MarginNeed(int32_t target_px, int32_t numerator,
                             int32_t denominator) {
  return (int64_t{target_px} * numerator + denominator - 1) / denominator;
}

// That need with the whole-factor reductions' margin, with a JPEG's, and
// with a sequential JPEG's at 1/8.
constexpr int64_t ReducedScaleNeed(int32_t target_px) {
  return MarginNeed(target_px, kReducedScaleMarginNumerator,
                    kReducedScaleMarginDenominator);
}
constexpr int64_t JpegScaleNeed(int32_t target_px) {
  return MarginNeed(target_px, kJpegScaleMarginNumerator,
                    kJpegScaleMarginDenominator);
}
constexpr int64_t JpegSequentialEighthNeed(int32_t target_px) {
  return MarginNeed(target_px, kJpegSequentialEighthMarginNumerator,
                    kJpegSequentialEighthMarginDenominator);
}

// The size in pixels the picture will be drawn at. 0 in both means the full
// size is needed; 0 in one only leaves that direction free (the other one
// decides). Given in the picture's upright orientation.
struct DecodeHint {
  int32_t target_width_px = 0;
  int32_t target_height_px = 0;
  // Keeps transparency as alpha instead of compositing it on white.
  bool keep_alpha = false;
};

// A rectangle of a decoded picture's pixels, in pixels, edges at any
// fraction.
struct PixelArea {
  double x = 0;
  double y = 0;
  double width = 0;  // 0: the whole of the pixels
  double height = 0;
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
  // Top-down rows, 4 bytes per pixel: blue, green, red, 255 (its straight
  // alpha when has_alpha).
  std::vector<uint8_t> bgrx;
  // Tells that the hint kept alpha and the picture has pixels less than
  // opaque (a reduced picture's may all have come out 255 still).
  bool has_alpha = false;
  // Where the picture lies in the pixels. A reduced decode whose size is not
  // a whole multiple of its scale (931 pixels read at 3/8: 349.125) ends in
  // a column and a row of pixels that the picture covers only in part, the
  // edge beyond it repeated: the picture is then area.width x area.height
  // pixels, starting at area.x, area.y (not 0 where the picture was turned
  // upright). Whoever scales the pixels samples that area, so that no
  // feature drifts toward the partial edge. Width 0: all of the pixels.
  PixelArea area;
};

// Reads and decodes the picture file at `path` (UTF-16; "/" separates
// folders; converted to the platform's code page byte-exactly, so a name that
// is not UTF-8 opens too). `hint` lets the picture be decoded reduced. The
// file is opened here; it is decoded in a decoder process when the program
// installed some (decoders/decoder_processes.h), else in this process, or
// refused (481) in a program linked with vg::decode_in_processes_only
// (decoders/internal/picture_file.h, DecodeWithoutProcesses).
// Raises platform::Error 53 (File not found) for a missing file or an empty
// path, 75 (Path/File access error) for a file that exists but cannot be
// read (a folder, no permission), 481 (Invalid picture) for anything that is
// not a picture of a supported format or is damaged beyond use, and 7 (Out
// of memory) for a picture that cannot be decoded within the limits above
// (described "Picture too large: ...") or when memory runs out within them.
// Never exits the process.
DecodedImage DecodePictureFile(std::u16string_view path,
                               const DecodeHint& hint = {});

// Tunes the C library's allocator for a batch of pictures: large buffers
// kept in one heap and reused from one picture to the next, and the heap's
// first pages advised for 2 MB pages (decoders/internal/batch_heap.cpp says
// why and what it gained). The decoder process calls it once, before any
// other thread starts, and so do the programs that draw and encode the
// thumbnails of what it decodes. Without it, batches are slower, not wrong.
void TuneAllocatorForBatches();

// Decodes a picture held in memory, in this process; `bytes` is only read
// during the call. Raises 481 or 7 as DecodePictureFile does. Only in the
// programs linked with vg::decode_here.
DecodedImage DecodePictureBytes(std::span<const uint8_t> bytes,
                                const DecodeHint& hint = {});

}  // namespace vg::decoders

#endif  // VG_DECODERS_DECODE_PICTURE_H_
