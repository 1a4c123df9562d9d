// Integers read from a file's bytes, little- or big-endian, each read
// checked against the bytes there are. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_BYTE_ORDER_H_
#define VG_DECODERS_INTERNAL_BYTE_ORDER_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {

// Whether `bytes` hold `n` bytes from `at`.
inline bool Holds(std::span<const uint8_t> bytes, size_t at, size_t n) {
  return at <= bytes.size() && n <= bytes.size() - at;
}

// The integers at `at`; a read past the end raises 481 (Invalid picture):
// readers check sizes first, and a read they did not check must not go
// beyond the file.
inline uint16_t Le16(std::span<const uint8_t> bytes, size_t at) {
  if (!Holds(bytes, at, 2)) RaisePictureError(platform::kErrInvalidPicture);
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}
inline uint32_t Le32(std::span<const uint8_t> bytes, size_t at) {
  if (!Holds(bytes, at, 4)) RaisePictureError(platform::kErrInvalidPicture);
  return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 |
         uint32_t{bytes[at + 2]} << 16 | uint32_t{bytes[at + 3]} << 24;
}
inline uint32_t Be32(std::span<const uint8_t> bytes, size_t at) {
  if (!Holds(bytes, at, 4)) RaisePictureError(platform::kErrInvalidPicture);
  return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
         uint32_t{bytes[at + 2]} << 8 | uint32_t{bytes[at + 3]};
}

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_BYTE_ORDER_H_
