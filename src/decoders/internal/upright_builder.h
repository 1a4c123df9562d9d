// Builds a decoded picture from its stored rows, fed one at a time: reduced
// by a whole factor as they arrive (RowReducer), then put upright for an
// orientation. For the readers whose library hands out rows or strips of
// the stored picture but has no reduced decode of its own (TIFF, HEIF,
// developed camera RAW), and for turning a picture decoded in its stored
// orientation. Internal to vg::decoders.
//
//   UprightBuilder builder(width, height, factor, orientation);
//   for (int32_t y = 0; y < height; ++y) builder.AddRow(StoredRow(y));
//   DecodedImage image = builder.Finish();  // upright, reduced
#ifndef VG_DECODERS_INTERNAL_UPRIGHT_BUILDER_H_
#define VG_DECODERS_INTERNAL_UPRIGHT_BUILDER_H_

#include <cstdint>

#include "decoders/decode_picture.h"
#include "decoders/internal/row_reducer.h"

namespace vg::decoders::decoders_internal {

// Returns `hint` (upright) turned into the stored orientation of a picture
// that `orientation` (1 to 8) turns upright.
DecodeHint StoredHint(const DecodeHint& hint, int orientation);

class UprightBuilder {
 public:
  // Returns the bytes a builder and its finished picture hold at most, for
  // a decode's lease: the reduced picture, and its turned copy.
  static int64_t HeldBytes(int32_t stored_width, int32_t stored_height,
                           int32_t factor, int orientation);

  // Allocates the reduced picture for a stored picture of stored_width x
  // stored_height pixels (both > 0), reduced by `factor` (>= 1), to be
  // turned by `orientation` (1 to 8; others count as 1), its rows' alpha
  // kept when `keep_alpha` (RowReducer). Throws std::bad_alloc when memory
  // runs out.
  UprightBuilder(int32_t stored_width, int32_t stored_height, int32_t factor,
                 int orientation, bool keep_alpha = false);

  // Takes the next stored row, top-down: stored_width BGRX pixels at `row`,
  // BGRA with straight alpha when the alpha is kept. Rows past the last are
  // ignored.
  void AddRow(const uint8_t* row) { reducer_.AddRow(row); }

  // Returns the rows given so far.
  int32_t rows_added() const { return reducer_.rows_added(); }

  // Returns the picture, upright: its logical size the stored size (swapped
  // when the orientation turns it a quarter), its pixels the reduced rows,
  // grey where no row came. Leaves the builder empty.
  DecodedImage Finish();

 private:
  RowReducer reducer_;
  int orientation_;
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_UPRIGHT_BUILDER_H_
