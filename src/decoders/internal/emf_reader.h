// Reads the fields of one EMF record: little-endian integers and floats,
// rectangles and colours, each read checked against the record's bytes
// (byte_order.h). Internal to vg::decoders.
//
//   const Reader rec(bytes.subspan(at, size));
//   if (rec.Has(8, 16)) box = ToRectF(ReadRect(rec, 8));
#ifndef VG_DECODERS_INTERNAL_EMF_READER_H_
#define VG_DECODERS_INTERNAL_EMF_READER_H_

#include <QColor>
#include <QRectF>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

#include "decoders/internal/byte_order.h"

namespace vg::decoders::decoders_internal::emf {

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  // Whether the record holds `n` bytes from `at`; a read it did not check
  // raises 481 rather than go past the record.
  bool Has(size_t at, size_t n) const { return Holds(bytes_, at, n); }
  uint32_t U32(size_t at) const { return Le32(bytes_, at); }
  int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }
  uint16_t U16(size_t at) const { return Le16(bytes_, at); }
  int16_t I16(size_t at) const { return static_cast<int16_t>(U16(at)); }
  float F32(size_t at) const {
    const uint32_t bits = U32(at);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  uint8_t U8(size_t at) const {
    if (!Has(at, 1)) RaisePictureError(platform::kErrInvalidPicture);
    return bytes_[at];
  }
  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  std::span<const uint8_t> bytes_;
};

struct RectL {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

inline RectL ReadRect(const Reader& r, size_t at) {
  return {r.I32(at), r.I32(at + 4), r.I32(at + 8), r.I32(at + 12)};
}

inline QRectF ToRectF(const RectL& r) {
  return QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom))
      .normalized();
}

// A COLORREF: red in the low byte.
inline QColor ColorRef(uint32_t ref) {
  return {static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
          static_cast<int>((ref >> 16) & 0xFF)};
}

// Whether `v` is a number a drawing can use.
inline bool Finite(double v) { return std::isfinite(v) && std::abs(v) < 1e12; }

}  // namespace vg::decoders::decoders_internal::emf

#endif  // VG_DECODERS_INTERNAL_EMF_READER_H_
