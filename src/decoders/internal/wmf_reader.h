// Draws Windows metafiles (WMF, placeable or plain) through libwmf.
// Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_WMF_READER_H_
#define VG_DECODERS_INTERNAL_WMF_READER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "decoders/decode_picture.h"

namespace vg::decoders::decoders_internal {

// What the records of a WMF say before any is played.
struct WmfLayout {
  // The logical size in pixels at 96 dots per inch: the placeable header's
  // box at its units per inch, else the window extent (SetWindowExt) of a
  // plain file; 0 x 0 when a plain file sets none.
  int64_t width = 0;
  int64_t height = 0;
  // The picture's frame in libwmf's device units, which it maps onto the
  // image it draws; when not `framed`, the bounding box of what it draws.
  bool framed = false;
  float left = 0;
  float top = 0;
  float right = 0;
  float bottom = 0;
  // Device units per logical unit squared, when `framed`.
  double units_per_logical = 0;
  // The largest bitmap a record holds, in pixels, and the largest area a
  // record draws one over, in logical units.
  int64_t largest_bitmap_pixels = 0;
  double largest_bitmap_area = 0;
  // Where each bitmap record's destination height and width lie in the
  // file.
  std::vector<size_t> bitmap_sizes;
  // Where each CreatePenIndirect record's width lies in the file.
  std::vector<size_t> pen_widths;
};

// Reads the headers and walks every record of the WMF `bytes` without
// drawing: each record must lie within the file, their number within
// kMaxMetafileRecords, and each bitmap's size within the picture limits
// and the bytes its record holds. Raises 481 otherwise.
WmfLayout ScanWmf(std::span<const uint8_t> bytes);

// Draws the WMF `bytes` on white at the size `hint` asks for
// (MetafileRasterSize), holding a lease from the shared decode budget for
// the pixels. One WMF at a time: libwmf keeps state of its own between
// calls. Raises 481 (damaged, over the limits or over the time limit) or 7.
DecodedImage DecodeWmf(std::span<const uint8_t> bytes, const DecodeHint& hint);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_WMF_READER_H_
