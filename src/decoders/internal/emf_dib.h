// The bitmaps EMF records carry: where a record holds one, its header
// checked against the record, and its pixels as an image. Internal to
// vg::decoders.
//
//   if (std::optional<DibFields> f = DibFieldsOf(rec, type)) {
//     QImage image = ReadDib(rec, *f);
//   }
#ifndef VG_DECODERS_INTERNAL_EMF_DIB_H_
#define VG_DECODERS_INTERNAL_EMF_DIB_H_

#include <QImage>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "decoders/internal/emf_reader.h"

namespace vg::decoders::decoders_internal::emf {

// The bitmap fields of a record: where its header and colour table lie
// (offBmi, cbBmi) and where its pixels do (offBits, cbBits).
struct DibFields {
  uint32_t off_bmi;
  uint32_t cb_bmi;
  uint32_t off_bits;
  uint32_t cb_bits;
  // What its colour table holds: colours, or (kDibPalColors) indices of the
  // selected palette.
  uint32_t usage = 0;
};

// Returns entry `index` of a palette; past its end, its first entry (black
// for an empty palette), as a display reads it.
inline QRgb PaletteEntry(std::span<const QRgb> palette, size_t index) {
  if (index < palette.size()) return palette[index];
  return palette.empty() ? qRgb(0, 0, 0) : palette[0];
}

// Returns the bitmap fields of a record of `type` that carries one, or
// nothing.
std::optional<DibFields> DibFieldsOf(const Reader& rec, uint32_t type);
// Returns a MaskBlt's or PlgBlt's mask, a 1-bit bitmap, or nothing.
std::optional<DibFields> MaskFieldsOf(const Reader& rec, uint32_t type);

// A bitmap's header, checked against the record that holds it.
struct DibInfo {
  int64_t width = 0;
  int64_t height = 0;  // negative: top-down rows
  int bits = 0;
  uint32_t compression = 0;
  size_t header_bytes = 0;
  size_t colours = 0;  // palette entries present
};

// Returns the header of the bitmap at `f` of a record, or nothing when the
// record holds none or one of a kind not drawn here (JPEG or PNG inside).
// Raises 481 when its size is over the limits or its pixels or palette lie
// outside the record. With `band`, bits that hold fewer rows than the
// header states (a band of scan lines) are a bitmap not drawn here rather
// than damage.
std::optional<DibInfo> ReadDibInfo(const Reader& rec, const DibFields& f,
                                   bool band = false);

// How a record's bitmap is read beyond its own header.
struct DibOptions {
  // A 32-bit bitmap's fourth byte is its alpha, its colours premultiplied.
  bool alpha = false;
  // The two colours of a 1-bit bitmap, in place of its palette.
  std::optional<std::array<QRgb, 2>> two_colours;
  // The bits may hold a band of the rows only (SetDIBitsToDevice).
  bool band = false;
  // The selected palette, which a colour table of indices names.
  std::span<const QRgb> palette;
};

// Returns the bitmap of a record as an upright premultiplied ARGB32 image,
// opaque unless `options` or its runs say otherwise, or a null image when
// the record holds none that is drawn here.
QImage ReadDib(const Reader& rec, const DibFields& f,
               const DibOptions& options = {});

}  // namespace vg::decoders::decoders_internal::emf

#endif  // VG_DECODERS_INTERNAL_EMF_DIB_H_
