// Builds a decoded picture from its stored rows, fed one at a time: each row
// reduced by a whole factor (every output pixel the mean of a factor x
// factor block) and put in its upright place for an orientation. For the
// readers whose library hands out rows or strips but has no reduced decode
// of its own (TIFF, HEIF, camera RAW). Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_UPRIGHT_BUILDER_H_
#define VG_DECODERS_INTERNAL_UPRIGHT_BUILDER_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "decoders/decode_picture.h"
#include "decoders/internal/orientation.h"

namespace vg::decoders::decoders_internal {

// Returns the factor by which a stored picture of width x height pixels is
// reduced so that it keeps the margin over `stored_hint` (given in the
// stored orientation) that a reduced JPEG keeps (ReducedScaleNeed); 1 when
// the hint asks for the full size or the picture is not larger than that.
int32_t BoxFactor(int32_t width, int32_t height, const DecodeHint& stored_hint);

// Returns `hint` turned into the stored orientation of a picture whose
// upright form is `orientation` (1 to 8) away.
DecodeHint StoredHint(const DecodeHint& hint, int orientation);

class UprightBuilder {
 public:
  // Returns the bytes the finished picture holds, and the builder besides it,
  // for a decode's lease.
  static int64_t HeldBytes(int32_t stored_width, int32_t stored_height,
                           int32_t factor);

  // Allocates the upright picture for a stored picture of stored_width x
  // stored_height pixels (both > 0), reduced by `factor` (>= 1), turned by
  // `orientation` (1 to 8; others count as 1). Every pixel is grey until a
  // row covers it. Raises 7 (Out of memory) when it cannot.
  UprightBuilder(int32_t stored_width, int32_t stored_height, int32_t factor,
                 int orientation);
  UprightBuilder(const UprightBuilder&) = delete;
  UprightBuilder& operator=(const UprightBuilder&) = delete;

  // Takes the next stored row, top-down: stored_width BGRX pixels at `row`.
  // Rows past the last are ignored.
  void AddRow(const uint8_t* row);

  // Returns the rows given so far.
  int32_t rows_added() const { return next_row_; }

  // Returns the picture: its logical size the upright stored size, its
  // pixels what the rows made (a partial block of rows at the end counts as
  // a block). Leaves the builder empty.
  DecodedImage Finish();

 private:
  void EmitReducedRow(int32_t block_rows);

  int32_t width_;
  int32_t height_;
  int32_t factor_;
  int32_t reduced_width_;
  int32_t reduced_height_;
  int orientation_;
  int32_t next_row_ = 0;
  int32_t next_reduced_row_ = 0;
  DecodedImage image_;
  std::optional<RowPlacer> placer_;
  std::vector<uint64_t> sums_;
  std::vector<uint8_t> reduced_row_;
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_UPRIGHT_BUILDER_H_
