// The DC coefficients of a progressive JPEG, read without libjpeg and
// without its AC scans: all that a decode at 1/8 scale needs, one pixel a
// block. libjpeg holds every coefficient of such a file until its last scan
// (128 bytes a block, 72 MB for a 24-megapixel photo) and walks them all
// to read the DC alone; this holds 2 bytes a block. Internal to
// vg::decoders.
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

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vg::decoders::decoders_internal {

struct JpegDcComponent {
  int id = 0;  // as the frame header names it
  int h = 1;   // sampling factors
  int v = 1;
  int quant_table = 0;
  uint16_t quant_dc = 0;  // the DC quantiser, latched at its first scan
  bool seen = false;      // some DC scan has held it
  // Its blocks, whole MCUs of them, rows of blocks_wide.
  int32_t blocks_wide = 0;
  int32_t blocks_high = 0;
  // Blocks that hold the picture: the rest pad the last MCUs.
  int32_t used_wide = 0;
  int32_t used_high = 0;
  std::vector<int16_t> dc;  // quantised, as the scans leave them
};

struct JpegDc {
  int32_t width = 0;
  int32_t height = 0;
  int max_h = 1;
  int max_v = 1;
  std::vector<JpegDcComponent> components;  // one (grey) or three (YCbCr)
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

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_JPEG_DC_H_
