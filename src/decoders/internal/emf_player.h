// Draws enhanced metafiles (EMF, the EMF records of an EMF+ dual file, and
// the EMF+ records of an EMF+ only one through emf_plus.h) with QPainter.
// Internal to vg::decoders.
//
// The records that drawing programs and office suites write: header,
// mapping modes with window and viewport, world transforms, saved states,
// pens, brushes (solid, hatched, bitmap patterns), fonts and text, lines,
// polylines, polygons and poly-Béziers (16- and 32-bit), rectangles,
// ellipses, arcs, paths, clipping rectangles and regions, and bitmaps
// (StretchDIBits, SetDIBitsToDevice, BitBlt, StretchBlt, MaskBlt,
// AlphaBlend, TransparentBlt; palettes and runs; the AND and XOR raster
// operations of icons). Other records are skipped. Text is
// drawn from the outlines of the Liberation fonts through FreeType, so it
// needs no QGuiApplication.
#ifndef VG_DECODERS_INTERNAL_EMF_PLAYER_H_
#define VG_DECODERS_INTERNAL_EMF_PLAYER_H_

#include <cstdint>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// What an EMF's records say before any is played.
struct EmfLayout {
  // The logical size in pixels at 96 dots per inch: the header's frame
  // (hundredths of a millimetre), or its bounds when the frame is empty.
  int64_t width = 0;
  int64_t height = 0;
  // The largest bitmap a record holds, in pixels.
  int64_t largest_bitmap_pixels = 0;
  int64_t records = 0;  // EMF and EMF+ records
  // Some EMF+ object is spread over several records: drawing joins their
  // data, at most the file's bytes.
  bool continued_objects = false;
  // Some record shades triangles, which takes a picture-sized copy.
  bool shaded_triangles = false;
};

// Reads the header and walks every record of the EMF `bytes` without
// drawing: each record must lie within the file, their number within
// kMaxMetafileRecords, and each bitmap's header within the picture limits
// and its pixels within the bytes its record holds, each EMF+ record within
// its comment and each EMF+ image within the picture limits, the last
// record EOF. Raises 481 otherwise (7 for an image over the limits).
EmfLayout ScanEmf(std::span<const uint8_t> bytes);

// Draws the EMF `bytes` on white at the size `hint` asks for
// (MetafileRasterSize), holding a lease from `budget` for
// the pixels and the bitmaps. Works without a QGuiApplication and from
// several threads at once. Raises 481 (damaged, over the limits or over
// the time limit; "EMF+ only" for an EMF+ only picture none of whose
// records could be drawn) or 7.
DecodedImage DecodeEmf(std::span<const uint8_t> bytes, const DecodeHint& hint,
                       DecodeBudget& budget);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_EMF_PLAYER_H_
