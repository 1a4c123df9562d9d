// Shrinks a picture by a whole factor while its rows arrive, one at a time,
// from a reader that streams them (libpng, libtiff, a BMP's rows). Internal
// to vg::decoders.
//
// Each output pixel is the mean of a factor x factor block of the picture;
// the blocks of the last column and row may be smaller and are averaged over
// the pixels they hold. Transparent pixels are composited on white first.
// Only the output and one row of sums are held, so a picture much larger
// than memory can be reduced as it is read.
//
//   RowReducer reducer(width, height, factor, RowLayout::kRgb);
//   for (int32_t y = 0; y < height; ++y) reducer.AddRow(ReadRow(y));
//   DecodedImage image = reducer.Finish();
//
// Not for colour conversion (convert rows before adding them) nor for
// orientation: rows go in top-down and come out top-down.
#ifndef VG_DECODERS_INTERNAL_ROW_REDUCER_H_
#define VG_DECODERS_INTERNAL_ROW_REDUCER_H_

#include <cstdint>
#include <vector>

#include "decoders/decode_picture.h"

namespace vg::decoders::decoders_internal {

// The layout of the 8-bit pixels of a row handed to RowReducer::AddRow.
enum class RowLayout {
  kGrey,       // 1 byte: grey
  kGreyAlpha,  // 2 bytes: grey, alpha (0 transparent)
  kRgb,        // 3 bytes: red, green, blue
  kRgba,       // 4 bytes: red, green, blue, alpha (0 transparent)
  kBgrx,       // 4 bytes: blue, green, red, unused
};

// Returns the bytes one pixel takes in `layout`.
int32_t RowLayoutBytes(RowLayout layout);

// Returns the factor by which a picture of width x height pixels is reduced
// so that it keeps the margin over the hinted size that a reduced JPEG keeps
// (ReducedScaleNeed in both hinted directions); 1 when the hint asks for the
// full size or leaves no room.
int32_t ReductionFactor(int32_t width, int32_t height, const DecodeHint& hint);

class RowReducer {
 public:
  // Prepares the output for a picture of width x height pixels (both > 0)
  // shrunk by `factor` (>= 1): ceil(width / factor) x ceil(height / factor)
  // BGRX pixels, allocated here. Throws std::bad_alloc when memory runs out;
  // the caller checks the sizes and takes the memory from its budget first
  // (OutputBytes says how much).
  RowReducer(int32_t width, int32_t height, int32_t factor, RowLayout layout);

  // Returns the bytes the output of such a reducer takes.
  static int64_t OutputBytes(int32_t width, int32_t height, int32_t factor);

  // Adds the next row, top-down: `width` pixels of the layout at `row`,
  // only read during the call. Rows past the last are ignored.
  void AddRow(const uint8_t* row);

  // Returns the number of rows added so far.
  int32_t rows_added() const { return next_row_; }

  // Fills the rows not added with `blue`, `green`, `red` (the grey of a
  // picture cut short, say) and returns the reduced picture: its logical
  // size width x height, its pixel size and rows as above. The reducer is
  // empty afterwards.
  DecodedImage Finish(uint8_t blue = 0x80, uint8_t green = 0x80,
                      uint8_t red = 0x80);

 private:
  void EmitBlockRow();

  int32_t width_;
  int32_t height_;
  int32_t factor_;
  RowLayout layout_;
  int32_t next_row_ = 0;
  DecodedImage out_;
  std::vector<uint8_t> bgrx_row_;  // the row being added, as BGRX
  std::vector<uint64_t> sums_;     // blue, green, red per output pixel
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_ROW_REDUCER_H_
