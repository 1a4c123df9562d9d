// An EMF's header record: its bounds, its frame and the reference device
// its frame is measured on. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_EMF_HEADER_H_
#define VG_DECODERS_INTERNAL_EMF_HEADER_H_

#include <QRectF>
#include <cstdint>
#include <span>

#include "decoders/internal/emf_reader.h"
#include "decoders/internal/metafile_raster.h"

namespace vg::decoders::decoders_internal::emf {

inline constexpr double kMmPerInch = 25.4;
inline constexpr double kDefaultPxPerMm = kMetafileDotsPerInch / kMmPerInch;

struct Header {
  RectL bounds;
  RectL frame;
  int64_t device_cx = 0;
  int64_t device_cy = 0;
  int64_t mm_cx = 0;
  int64_t mm_cy = 0;
  uint32_t handles = 0;
};

// Returns the header at the start of `bytes`; raises 481 when it is not an
// EMF header or states a size beyond the bytes.
Header ReadHeader(std::span<const uint8_t> bytes);

// Returns the reference device's pixels per millimetre, the default for a
// device of no size.
double PxPerMm(int64_t device, int64_t mm);

// Whether `frame` (hundredths of a millimetre) has an area.
bool FrameUsable(const RectL& frame);

// Returns the picture's frame in reference device pixels.
QRectF DeviceFrame(const Header& h);

}  // namespace vg::decoders::decoders_internal::emf

#endif  // VG_DECODERS_INTERNAL_EMF_HEADER_H_
