// The DC coefficients of a progressive JPEG, read without libjpeg and
// without its AC scans: all that a decode at 1/8 scale needs, one pixel a
// block. libjpeg holds every coefficient of such a file until its last scan
// (128 bytes a block, 72 MB for a 24-megapixel photo) and walks them all
// to read the DC alone; this holds 2 bytes a block. For a decode at 2/8
// or 4/8, ReadJpegCoefficients reads the AC scans too, keeping only the
// coefficients that scale's inverse DCT reads (jpeg_reduced.h). Internal
// to vg::decoders.
//
//   JpegDc dc;
//   if (ReadJpegDc(bytes, dc)) {
//     std::vector<uint8_t> row(JpegDcRowBytes(dc, false));
//     for (int32_t y = 0; y < dc.rows(); ++y) RenderJpegDcRow(dc, y, false,
//                                                             row.data());
//   }
//
// Only for files that are whole and plain: anything else (baseline or
// arithmetic coding, 12-bit samples, colour spaces other than grey and
// YCbCr, odd sampling, damage, a missing EOI) is left to libjpeg.
#ifndef VG_DECODERS_INTERNAL_JPEG_DC_H_
#define VG_DECODERS_INTERNAL_JPEG_DC_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vg::decoders::decoders_internal {

// Where the k-th coefficient of the zigzag order stands in a block's rows.
inline constexpr std::array<uint8_t, 64> kJpegNaturalOrder = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Where a block keeps each AC coefficient (zigzag order) that libjpeg's
// inverse DCT of side x side pixels (2, 4 or 8) reads, -1 for the others:
// it reads rows and columns 0, 1, 3, 5 and 7 at two points, all but 4 at
// four, all at eight.
constexpr std::array<int8_t, 64> JpegKeptSlots(int side) {
  const int lines = side == 2 ? 0b10101011 : side == 4 ? 0b11101111 : 0xFF;
  std::array<int8_t, 64> slot{};
  slot[0] = -1;
  int8_t next = 0;
  for (size_t k = 1; k < 64; ++k) {
    const int at = kJpegNaturalOrder[k];
    slot[k] = ((lines >> (at / 8)) & (lines >> (at % 8)) & 1) != 0 ? next++
                                                                   : int8_t{-1};
  }
  return slot;
}

struct JpegDcComponent {
  int id = 0;  // as the frame header names it
  int h = 1;   // sampling factors
  int v = 1;
  int quant_table = 0;
  // Its quantisers in natural order, latched at its first scan: the DC's
  // alone when only the DC is kept.
  std::array<uint16_t, 64> quant{};
  bool seen = false;  // some DC scan has held it
  // Its blocks, whole MCUs of them, rows of blocks_wide.
  int32_t blocks_wide = 0;
  int32_t blocks_high = 0;
  // Blocks that hold the picture: the rest pad the last MCUs.
  int32_t used_wide = 0;
  int32_t used_high = 0;
  // With the AC kept: the side of the block its inverse DCT draws, and
  // where a block's `ac` keeps each coefficient (JpegKeptSlots).
  int side = 0;
  std::array<int8_t, 64> slot{};
  int ac_stride = 0;  // the coefficients kept a block
  // Each block's coefficients, quantised as the scans leave them: its DC,
  // and with the AC kept, those the transform reads and a bit for each AC
  // coefficient that is not zero (bit k for the k-th).
  std::vector<int16_t> dc;
  std::vector<int16_t> ac;
  std::vector<uint64_t> nonzero;
};

struct JpegDc {
  int32_t width = 0;
  int32_t height = 0;
  int max_h = 1;
  int max_v = 1;
  std::vector<JpegDcComponent> components;  // one (grey) or three (YCbCr)
  int scale = 0;  // with the AC kept: the scale they are drawn at, M/8
  // Output rows and columns at 1/8: one a luma block that holds picture.
  int32_t rows() const { return (height + 7) / 8; }
  int32_t columns() const { return (width + 7) / 8; }
};

// Reads the DC coefficients of the progressive JPEG in `bytes` into `out`.
// Returns false, with `out` in no particular state, for any file it does
// not take (above): the caller then decodes it some other way. It holds 2
// bytes a block, about 400 MB for three components of 65 535 x 65 535:
// the caller bounds the size first (DecodeJpeg refuses a file whose
// coefficients, 64 times as many bytes, are over kMaxJpegWorkingBytes).
bool ReadJpegDc(std::span<const uint8_t> bytes, JpegDc& out);

// Reads the coefficients of the progressive JPEG in `bytes` that a decode
// at scale/8 (2 or 4) reads into `out`, for jpeg_reduced.h: the same files
// as ReadJpegDc, and only those whose scans follow each other as the
// standard says (no coefficient refined before it was sent, or sent
// twice), and whose components libjpeg draws at the picture's
// height, at its width or at half of it. At 2/8 it holds 58 bytes a block
// of libjpeg's 128, at 4/8 106 (136 for chroma drawn at 8 pixels a block,
// a quarter of the luma's blocks): less than libjpeg would, so the bound
// DecodeJpeg puts on libjpeg's coefficients bounds these too.
bool ReadJpegCoefficients(std::span<const uint8_t> bytes, int scale,
                          JpegDc& out);

// Returns where the entropy-coded data that starts at `at` ends: at the
// next marker other than a restart marker, or at the end of `bytes` when
// there is none.
size_t JpegScanDataEnd(std::span<const uint8_t> bytes, size_t at);

// The bytes of a row RenderJpegDcRow writes: columns() pixels of 4 bytes
// (BGRX), or of 1 with `grey_out` for a grey picture.
size_t JpegDcRowBytes(const JpegDc& dc, bool grey_out);

// Writes output row `y` (0 <= y < rows()) of the picture at 1/8 scale,
// as libjpeg's 1 x 1 inverse DCT gives each block; chroma sampled below
// the luma is drawn up to it by triangle interpolation, as libjpeg's
// "fancy" upsampling does. Colours are converted as libjpeg converts them.
void RenderJpegDcRow(const JpegDc& dc, int32_t y, bool grey_out, uint8_t* row);

// libjpeg's clamp after an inverse DCT, of a value before its +128 level
// shift: in range, the value shifted; out of range, 0 or 255 (and beyond
// +-512 wrapping as libjpeg's table does).
uint8_t JpegIdctLimit(int32_t value);

// Writes the BGRX pixel of a YCbCr sample as libjpeg converts it.
void JpegYccToBgrx(uint8_t luma, uint8_t cb, uint8_t cr, uint8_t* px);
// The same for `width` samples of each plane, into `width` BGRX pixels.
void JpegYccRowToBgrx(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
                      size_t width, uint8_t* bgrx);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_JPEG_DC_H_
