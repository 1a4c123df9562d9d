// Reads the TIFF samples that libtiff's RGBA interface refuses: 12 bits a
// sample, and floating point of 16, 32 or 64 bits (scanners, HDR and
// scientific cameras write them), grey or RGB with or without alpha.
// Internal to vg::decoders.
//
//   std::optional<TiffSampleReader> reader = TiffSampleReader::For(tiff);
//   if (reader) reader->ReadBand(top, rows, band.data());
//
// Not for the layouts the RGBA interface reads: the decoder keeps that for
// them.
#ifndef VG_DECODERS_INTERNAL_TIFF_SAMPLE_READER_H_
#define VG_DECODERS_INTERNAL_TIFF_SAMPLE_READER_H_

#include <tiffio.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace vg::decoders::decoders_internal {

class TiffSampleReader {
 public:
  // Returns a reader of the current directory of `tiff` when its samples
  // are 12-bit integers or floating point, else nothing. Raises 481, its
  // description saying why, for such samples in a colour model other than
  // grey or RGB.
  static std::optional<TiffSampleReader> For(TIFF* tiff);

  // Returns the bytes the reader's buffers take once it has read a band:
  // one strip or tile as libtiff decodes it, and a band of 8-bit samples.
  int64_t HeldBytes() const;

  // Rows a band holds: those of a strip, or of a row of tiles.
  uint32_t band_rows() const { return band_rows_; }

  // Reads rows top .. top + rows - 1 (top a multiple of band_rows(), rows
  // at most band_rows()) into `abgr`: width x rows pixels packed as libtiff's
  // RGBA interface packs them (TIFFGetR ... TIFFGetA), colours multiplied by
  // alpha. Samples 0 to 4095 (12 bits) or 0.0 to 1.0 (floating point) map
  // to 0 to 255; floating point outside that range is clamped, NaN is 0.
  // Returns false when libtiff cannot decode a strip or tile of the band.
  // Throws std::bad_alloc when its buffers cannot be allocated.
  bool ReadBand(uint32_t top, uint32_t rows, uint32_t* abgr);

 private:
  enum class Kind {
    kUint12,
    kFloat16,
    kFloat32,
    kFloat64,
  };

  TiffSampleReader() = default;

  // Writes the samples of `block` (a strip or tile of `block_rows` rows of
  // `row_bytes`, its first pixel at column x0 of the band) that fall inside
  // the band into samples_.
  void TakeBlock(const uint8_t* block, uint64_t row_bytes, uint32_t x0,
                 uint32_t columns, uint32_t block_rows, uint16_t plane);
  // Returns sample `index` of `row` scaled to 0..255.
  uint8_t Sample8(const uint8_t* row, uint64_t index) const;

  TIFF* tiff_ = nullptr;
  Kind kind_ = Kind::kUint12;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint16_t samples_per_pixel_ = 1;
  bool separate_ = false;
  bool tiled_ = false;
  uint32_t tile_width_ = 0;
  uint32_t band_rows_ = 1;
  int colours_ = 1;  // 1 grey, 3 RGB
  int alpha_ = -1;   // the sample that holds alpha, -1 when none
  bool premultiplied_ = false;
  bool min_is_white_ = false;
  uint64_t block_bytes_ = 0;      // one strip or tile, decoded
  uint64_t block_row_bytes_ = 0;  // one row of it
  std::vector<uint8_t> block_;
  // Colours then alpha, 8 bits each, per pixel of the band.
  std::vector<uint8_t> samples_;
};

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_TIFF_SAMPLE_READER_H_
