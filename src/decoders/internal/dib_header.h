// The header that opens a device-independent bitmap, as BMP files, EMF and
// WMF records hold it: a BITMAPCOREHEADER (12 bytes) or a
// BITMAPINFOHEADER (40 bytes) or one of the larger ones that grow it.
// Internal to vg::decoders.
//
//   if (std::optional<DibHeader> dib = ReadDibHeader(bytes)) ...
//
// Reads the fields only; what a reader accepts of them is its own choice.
#ifndef VG_DECODERS_INTERNAL_DIB_HEADER_H_
#define VG_DECODERS_INTERNAL_DIB_HEADER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vg::decoders::decoders_internal {

// Header sizes: BITMAPCOREHEADER and BITMAPINFOHEADER.
inline constexpr uint32_t kDibCoreHeaderBytes = 12;
inline constexpr uint32_t kDibInfoHeaderBytes = 40;

// Compressions.
enum : uint32_t {
  kBiRgb = 0,
  kBiRle8 = 1,
  kBiRle4 = 2,
  kBiBitfields = 3,
  kBiAlphaBitfields = 6,
};

struct DibHeader {
  uint32_t header_bytes = 0;  // the header's own size, as it states it
  int64_t width = 0;
  int64_t height = 0;  // negative: top-down rows (never in a core header)
  int bits = 0;        // per pixel
  uint32_t compression = kBiRgb;
  uint32_t colours_used = 0;  // 0: as many as the bits allow
};

// Returns the header at the start of `dib`, or nothing when its stated size
// is neither a core header's nor at least an info header's, or `dib` is too
// short for the fields of that header. A core header's sides are unsigned.
std::optional<DibHeader> ReadDibHeader(std::span<const uint8_t> dib);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_DIB_HEADER_H_
