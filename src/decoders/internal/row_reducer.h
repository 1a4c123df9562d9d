// Shrinks a picture by a whole factor while its rows arrive, one at a time,
// from a reader that streams them (libpng, libtiff, a BMP's rows). Internal
// to vg::decoders.
//
// Each output pixel is the mean of a factor x factor block of the picture;
// where the picture ends inside a block, its last column and row are
// repeated to fill it. Transparent pixels are composited on white first, or
// kept as straight alpha when asked: a block's colour is then its mean
// weighted by alpha, and a pixel of alpha 0 comes out 0, 0, 0, 0. Only the
// output and one row of sums are held, so a picture much larger than memory
// can be reduced as it is read.
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
  kBgra,       // 4 bytes: blue, green, red, alpha (0 transparent)
};

// Returns the bytes one pixel takes in `layout`.
int32_t RowLayoutBytes(RowLayout layout);

// Returns the factor by which a picture of width x height pixels is reduced
// so that it keeps a margin of 3/2 over the hinted size (ReducedScaleNeed in
// both hinted directions); 1 when the hint asks for the
// full size or leaves no room.
int32_t ReductionFactor(int32_t width, int32_t height, const DecodeHint& hint);

class RowReducer {
 public:
  // Prepares the output for a picture of width x height pixels (both > 0)
  // shrunk by `factor` (>= 1): ceil(width / factor) x ceil(height / factor)
  // BGRX pixels, allocated here; BGRA with straight alpha when `keep_alpha`.
  // Throws std::bad_alloc when memory runs out; the caller checks the sizes
  // and takes the memory from its budget first (OutputBytes says how much).
  RowReducer(int32_t width, int32_t height, int32_t factor, RowLayout layout,
             bool keep_alpha = false);

  // Returns the bytes the output of such a reducer takes.
  static int64_t OutputBytes(int32_t width, int32_t height, int32_t factor);

  // Adds the next row, top-down: `width` pixels of the layout at `row`,
  // only read during the call. Rows past the last are ignored.
  void AddRow(const uint8_t* row);

  // Returns the number of rows added so far.
  int32_t rows_added() const { return next_row_; }

  // Fills the rows not added with `blue`, `green`, `red`, opaque (the grey
  // of a picture cut short, say) and returns the reduced picture: its
  // logical size width x height, its pixel size and rows as above, has_alpha
  // when alpha was kept and some pixel added was less than opaque. The
  // reducer is empty afterwards.
  DecodedImage Finish(uint8_t blue = 0x80, uint8_t green = 0x80,
                      uint8_t red = 0x80);

 private:
  // Writes `row` (width_ pixels of layout_) at `out` as the output has them.
  void Convert(const uint8_t* row, uint8_t* out);
  // Adds `row`, in column_layout_, to the column sums.
  void AddColumns(const uint8_t* row);
  // Makes the column sums BGRX, for rows that come as BGRX from now on.
  void WidenColumns();
  // Adds the 16-bit sums to the 32-bit ones and zeroes them.
  void WidenNarrowColumns();
  void EmitBlockRow();

  int32_t width_;
  int32_t height_;
  int32_t factor_;
  RowLayout layout_;
  bool keep_alpha_;
  bool translucent_ = false;  // some pixel added was less than opaque
  int32_t next_row_ = 0;
  DecodedImage out_;
  std::vector<uint8_t> bgrx_row_;  // the row being added, as BGRX (BGRA)
  // With alpha kept: blue, green, red per output pixel, each multiplied by
  // its alpha, and then the alpha.
  std::vector<uint64_t> sums_;
  // Without: the sum of each column of the input over the block row being
  // added, in column_layout_ (grey, RGB, or BGRX once composited): at most
  // 2 x 65535 rows of 255, well within 32 bits.
  RowLayout column_layout_ = RowLayout::kBgrx;
  std::vector<uint32_t> columns_;
  // The same sums in 16 bits, added to columns_ once a block row is done:
  // half the bytes to add to for each row. Used while a block's rows of
  // 255 fit, factor_ <= kMaxNarrowFactor; empty otherwise.
  static constexpr int32_t kMaxNarrowFactor = 65535 / 255;
  std::vector<uint16_t> narrow_columns_;
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_ROW_REDUCER_H_
