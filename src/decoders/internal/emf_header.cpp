#include "decoders/internal/emf_header.h"

#include "decoders/internal/emf_records.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal::emf {

Header ReadHeader(std::span<const uint8_t> bytes) {
  Reader r(bytes);
  if (!r.Has(0, kHeaderMinBytes) || r.U32(0) != kHeader ||
      r.U32(4) < kHeaderMinBytes || r.U32(4) > bytes.size()) {
    RaiseInvalidPicture("EMF: damaged header");
  }
  Header h;
  h.bounds = ReadRect(r, 8);
  h.frame = ReadRect(r, 24);
  h.handles = r.U16(56);
  h.device_cx = r.I32(72);
  h.device_cy = r.I32(76);
  h.mm_cx = r.I32(80);
  h.mm_cy = r.I32(84);
  return h;
}

double PxPerMm(int64_t device, int64_t mm) {
  return device > 0 && mm > 0
             ? static_cast<double>(device) / static_cast<double>(mm)
             : kDefaultPxPerMm;
}

bool FrameUsable(const RectL& frame) {
  return frame.right > frame.left && frame.bottom > frame.top;
}

// The picture's frame in reference device pixels.
QRectF DeviceFrame(const Header& h) {
  if (FrameUsable(h.frame)) {
    const double sx = PxPerMm(h.device_cx, h.mm_cx) / 100;
    const double sy = PxPerMm(h.device_cy, h.mm_cy) / 100;
    return QRectF(QPointF(h.frame.left * sx, h.frame.top * sy),
                  QPointF(h.frame.right * sx, h.frame.bottom * sy));
  }
  return QRectF(QPointF(h.bounds.left, h.bounds.top),
                QPointF(static_cast<double>(h.bounds.right) + 1,
                        static_cast<double>(h.bounds.bottom) + 1));
}

}  // namespace vg::decoders::decoders_internal::emf
