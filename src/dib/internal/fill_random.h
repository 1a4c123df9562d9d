// File: dib/internal/fill_random.h
//
// The noise fill of cDIBSection::RandomiseBits, over a raw 24-bit buffer
// (blue, green, red bytes; rows of `stride_bytes` in memory order, bottom row
// first). Internal to vg::dib; the seam through which tests choose the draws.
//
//   std::mt19937 engine(42);
//   FillRandom(bits, 150, 100, 452, /*gray=*/true, engine);
//
// Each draw is a float uniform in [0, 1) turned into the byte
// nearest(draw * 255), halves to even, so 0 and 255 are half as likely as
// the other values. Grey: rows outer, pixels left to right, one draw per
// pixel written to blue, green and red. Colour: pixel columns outer, rows
// inner; blue 0, then a green draw, then a red draw. Which draw lands on
// which pixel follows from those orders. Row padding is never written.
//
// Not a source of randomness for anything but pictures: the sequence is
// std::mt19937's and the seed is the time of day.
#ifndef VG_DIB_INTERNAL_FILL_RANDOM_H_
#define VG_DIB_INTERNAL_FILL_RANDOM_H_

#include <cstddef>
#include <cstdint>
#include <random>

namespace vg::dib::dib_internal {

// Returns nearest(draw * 255), halves to even (0.5 gives 128), for a draw in
// [0, 1); draws outside that range are clamped to 0..255.
uint8_t ByteFromDraw(float draw);

// Returns the next float uniform in [0, 1) from `engine`: the top 24 bits of
// one 32-bit output times 2^-24. Taken straight from the engine's output,
// whose sequence the C++ standard fixes, so a seed gives the same draws with
// every standard library (uniform_real_distribution does not).
float NextUnitFloat(std::mt19937& engine);

// Returns the seconds elapsed since local midnight, fraction included, as a
// float (0 to 86400; about 8 ms apart late in the day).
float SecondsSinceMidnight();

// Returns an engine seeded from a time of day in seconds: the float's bit
// pattern is the seed, so distinct times give distinct sequences.
std::mt19937 EngineFromSeconds(float seconds);

// Writes noise into the pixels of a buffer.
//   bits: first byte of row 0; not owned. nullptr writes nothing.
//   width_px, height_px: size in pixels; 0 or less writes nothing.
//   stride_bytes: bytes from one row to the next, at least 3 * width_px.
//   gray: grey noise (B = G = R) when true, else colour noise with blue 0.
//   draw: a callable returning the next float in [0, 1); called once per
//     pixel (grey) or twice per pixel, green first (colour).
template <typename Draw>
void FillRandom(uint8_t* bits, int32_t width_px, int32_t height_px,
                int32_t stride_bytes, bool gray, Draw&& draw) {
  if (bits == nullptr || width_px <= 0 || height_px <= 0) return;
  const std::ptrdiff_t stride = stride_bytes;
  if (gray) {
    for (int32_t y = 0; y < height_px; ++y) {
      uint8_t* p = bits + y * stride;
      for (int32_t x = 0; x < width_px; ++x, p += 3) {
        const uint8_t v = ByteFromDraw(draw());
        p[0] = v;
        p[1] = v;
        p[2] = v;
      }
    }
  } else {
    for (int32_t x = 0; x < width_px; ++x) {
      uint8_t* p = bits + 3 * static_cast<std::ptrdiff_t>(x);
      for (int32_t y = 0; y < height_px; ++y, p += stride) {
        p[0] = 0;
        p[1] = ByteFromDraw(draw());
        p[2] = ByteFromDraw(draw());
      }
    }
  }
}

// FillRandom with the draws of a std::mt19937 (see NextUnitFloat).
void FillRandom(uint8_t* bits, int32_t width_px, int32_t height_px,
                int32_t stride_bytes, bool gray, std::mt19937& engine);

}  // namespace vg::dib::dib_internal

#endif  // VG_DIB_INTERNAL_FILL_RANDOM_H_
