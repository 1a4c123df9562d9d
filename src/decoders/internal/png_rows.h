// The rows of a PNG as its pixel data inflates: filters undone, samples of
// under 8 bits unpacked and of 16 rounded to 8, palettes and tRNS expanded,
// the way libpng's png_set_expand and png_set_scale_16 give them. For
// non-interlaced files, the pictures PNG writers make nearly always;
// interlaced ones are read through libpng. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_PNG_ROWS_H_
#define VG_DECODERS_INTERNAL_PNG_ROWS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vg::decoders::decoders_internal {

// Undoes filter `type` (0 none, 1 Sub, 2 Up, 3 Average, 4 Paeth) on the
// `length` bytes of `row`, in place, given the row above as unfiltered
// (`prior`; zeros above the first row) and `bpp` bytes a pixel (1 when a
// pixel is under a byte). Returns false for any other type.
bool UnfilterPngRow(uint8_t type, uint8_t* row, const uint8_t* prior,
                    size_t length, int bpp);

// The same for two rows, `bottom` right below `top`, as UnfilterPngRow on
// the top row and then on the bottom one, the top row its prior; faster
// when both are Paeth or both Average. Returns false when either type is
// unknown.
bool UnfilterPngRows(uint8_t top_type, uint8_t* top, uint8_t bottom_type,
                     uint8_t* bottom, const uint8_t* prior, size_t length,
                     int bpp);

// What a row holds: IHDR's colour type and depth, and PLTE and tRNS.
struct PngRowFormat {
  uint32_t width = 0;
  int bit_depth = 8;   // 1, 2, 4, 8 or 16
  int color_type = 2;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
  std::span<const uint8_t> palette;        // R, G, B of each entry
  std::span<const uint8_t> palette_alpha;  // tRNS of a palette
  // tRNS of grey (one sample) or RGB (three): that colour is transparent.
  bool has_key = false;
  std::array<uint16_t, 3> key = {};
};

class PngRowExpander {
 public:
  explicit PngRowExpander(const PngRowFormat& format);

  // The bytes of a row as stored, after its filter byte.
  size_t stored_bytes() const { return stored_bytes_; }
  // Bytes a stored pixel takes for the filters: 1 under 8 bits a pixel.
  int filter_bpp() const { return filter_bpp_; }
  // Samples of an expanded pixel: 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA.
  int channels() const { return channels_; }
  // True when a stored row is already expanded (8-bit, no palette, no key).
  bool as_stored() const { return as_stored_; }

  // Writes the unfiltered `row` to `out`, width x channels() bytes.
  void Expand(const uint8_t* row, uint8_t* out) const;

 private:
  // Expand for 16-bit samples.
  void ExpandWide(const uint8_t* row, uint8_t* out) const;

  PngRowFormat format_;
  size_t stored_bytes_ = 0;
  int filter_bpp_ = 1;
  int channels_ = 1;
  bool as_stored_ = false;
  // A palette's entries as RGBA (opaque black past its end), or the grey
  // level each sample of under 8 bits stands for.
  std::array<std::array<uint8_t, 4>, 256> colours_ = {};
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_PNG_ROWS_H_
