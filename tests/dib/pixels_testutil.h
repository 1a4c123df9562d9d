// A 24-bit picture buffer for the tests of the pixel loops of the DIB
// section: rows in DIB layout (rounded up to 4 bytes) or packed, every byte
// starting as kPadding so that a stray write shows.
#ifndef VG_TESTS_DIB_PIXELS_TESTUTIL_H_
#define VG_TESTS_DIB_PIXELS_TESTUTIL_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vg::dib::testing {

constexpr uint8_t kPadding = 0xA5;

struct Pixels {
  int32_t width;
  int32_t height;
  int32_t stride;
  std::vector<uint8_t> bytes;

  Pixels(int32_t w, int32_t h, bool dib_rows = true)
      : width(w),
        height(h),
        stride(dib_rows ? (w * 3 + 3) & ~3 : w * 3),
        bytes(static_cast<size_t>(stride) * h, kPadding) {}

  // Byte k (blue, green, red) of pixel (x, y), rows counted as stored.
  uint8_t& at(int32_t x, int32_t y, int k) { return bytes[Offset(x, y, k)]; }
  [[nodiscard]] uint8_t at(int32_t x, int32_t y, int k) const {
    return bytes[Offset(x, y, k)];
  }
  uint8_t* data() { return bytes.data(); }

 private:
  [[nodiscard]] size_t Offset(int32_t x, int32_t y, int k) const {
    return static_cast<size_t>(y) * static_cast<size_t>(stride) +
           static_cast<size_t>(3 * x) + static_cast<size_t>(k);
  }
};

}  // namespace vg::dib::testing

#endif  // VG_TESTS_DIB_PIXELS_TESTUTIL_H_
