// File: platform/checked.h
//
// Checked integer arithmetic and the float-to-integer conversions of the
// system. Counters and positions are signed 16-bit, sizes and handles signed
// 32-bit; every add, subtract and multiply is checked and raises error 6
// (Overflow) instead of wrapping. A double goes to the nearest integer with
// halves to even (112.5 -> 112, 113.5 -> 114).
//
//   int16_t count = CheckedAdd16(count, 1);      // raises 6 past 32767
//   int32_t h = RoundToInt32(height / (width / w));
//
// Not for pixel loops: those use plain arithmetic on sizes checked up front.
#ifndef VG_PLATFORM_CHECKED_H_
#define VG_PLATFORM_CHECKED_H_

#include <cstdint>

namespace vg::platform {

// Returns a + b, a - b or a * b; raises error 6 when the exact result does not
// fit a signed 16-bit integer.
int16_t CheckedAdd16(int16_t a, int16_t b);
int16_t CheckedSub16(int16_t a, int16_t b);
int16_t CheckedMul16(int16_t a, int16_t b);

// Returns a + b, a - b or a * b; raises error 6 when the exact result does not
// fit a signed 32-bit integer.
int32_t CheckedAdd32(int32_t a, int32_t b);
int32_t CheckedSub32(int32_t a, int32_t b);
int32_t CheckedMul32(int32_t a, int32_t b);

// Returns v rounded to the nearest integer, halves to even, as a double.
double RoundHalfEven(double v);

// Returns v rounded half to even; raises error 6 when the result (or NaN)
// does not fit the target type.
int16_t RoundToInt16(double v);
int32_t RoundToInt32(double v);

// Returns a / b in double precision; raises error 11 (Division by zero) for
// b == 0 with a != 0, and error 6 for 0 / 0 or a result out of range.
double CheckedDivide(double a, double b);

}  // namespace vg::platform

#endif  // VG_PLATFORM_CHECKED_H_
