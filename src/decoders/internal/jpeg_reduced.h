// A progressive JPEG drawn at 2/8 or 4/8 scale from the coefficients that
// ReadJpegCoefficients read (jpeg_dc.h), row by row, as libjpeg-turbo draws
// it: its reduced 2 x 2 and 4 x 4 inverse DCTs (and its full one for
// chroma sampled at half both ways at 4/8), chroma sampled at half
// across drawn up by its "fancy" triangle filter, its colour conversion.
// libjpeg decodes every scan into the same coefficients, walking all of
// them once a scan; the scans are read here a block at a time. Internal to
// vg::decoders.
//
//   JpegDc coefficients;
//   if (ReadJpegCoefficients(bytes, 2, coefficients)) {
//     JpegReducedRows picture(coefficients);
//     std::vector<uint8_t> row(picture.RowBytes(false));
//     for (int32_t y = 0; y < picture.rows(); ++y) picture.Row(y, false,
//                                                               row.data());
//   }
#ifndef VG_DECODERS_INTERNAL_JPEG_REDUCED_H_
#define VG_DECODERS_INTERNAL_JPEG_REDUCED_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoders/internal/jpeg_dc.h"

namespace vg::decoders::decoders_internal {

class JpegReducedRows {
 public:
  // The picture at the scale `coefficients` were read for by
  // ReadJpegCoefficients (which reads only files drawn here); they must
  // outlive this.
  explicit JpegReducedRows(const JpegDc& coefficients);

  // The picture's size at that scale, as libjpeg rounds it (up).
  int32_t columns() const { return columns_; }
  int32_t rows() const { return rows_; }

  // The bytes of a row: columns() pixels of 4 bytes (BGRX), or of 1 with
  // `grey_out` for a grey picture.
  size_t RowBytes(bool grey_out) const;

  // Writes output row `y`; rows must come in order from 0.
  void Row(int32_t y, bool grey_out, uint8_t* row);

 private:
  // One component's samples: a row of blocks at a time through the
  // inverse DCT of `side` x `side` pixels a block.
  struct Plane {
    const JpegDcComponent* component = nullptr;
    int side = 0;
    int32_t width = 0;  // samples that hold the picture
    bool half_wide = false;
    // Its quantisers in zigzag order, as 16-bit signed multipliers.
    std::array<int32_t, 64> multipliers{};
    int32_t block_row = -1;  // the row of blocks in `strip`
    std::vector<uint8_t> strip;
    std::vector<uint8_t> widened;  // a row drawn up to twice its width
  };

  // Sample row `y` of `plane`, at the picture's width.
  const uint8_t* PlaneRow(Plane& plane, int32_t y);

  int32_t columns_ = 0;
  int32_t rows_ = 0;
  std::vector<Plane> planes_;
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_JPEG_REDUCED_H_
