#include "platform/checked.h"

#include <cmath>
#include <limits>

#include "platform/error.h"

namespace vg::platform {
namespace {

template <typename T>
T Narrow(long long v, const char* source) {
  if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) {
    throw Error::Overflow(source);
  }
  return static_cast<T>(v);
}

template <typename T>
T RoundTo(double v, const char* source) {
  double r = RoundHalfEven(v);
  // NaN fails both comparisons, so it is caught by the negated form.
  if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
        r <= static_cast<double>(std::numeric_limits<T>::max()))) {
    throw Error::Overflow(source);
  }
  return static_cast<T>(r);
}

}  // namespace

int16_t CheckedAdd16(int16_t a, int16_t b) {
  return Narrow<int16_t>(static_cast<long long>(a) + b, "CheckedAdd16");
}
int16_t CheckedSub16(int16_t a, int16_t b) {
  return Narrow<int16_t>(static_cast<long long>(a) - b, "CheckedSub16");
}
int16_t CheckedMul16(int16_t a, int16_t b) {
  return Narrow<int16_t>(static_cast<long long>(a) * b, "CheckedMul16");
}
int32_t CheckedAdd32(int32_t a, int32_t b) {
  return Narrow<int32_t>(static_cast<long long>(a) + b, "CheckedAdd32");
}
int32_t CheckedSub32(int32_t a, int32_t b) {
  return Narrow<int32_t>(static_cast<long long>(a) - b, "CheckedSub32");
}
int32_t CheckedMul32(int32_t a, int32_t b) {
  return Narrow<int32_t>(static_cast<long long>(a) * b, "CheckedMul32");
}

double RoundHalfEven(double v) {
  // Done by hand rather than with nearbyint so that a rounding mode changed
  // elsewhere in the process cannot alter a size.
  double floor_v = std::floor(v);
  double diff = v - floor_v;
  if (diff < 0.5) return floor_v;
  if (diff > 0.5) return floor_v + 1.0;
  return std::fmod(floor_v, 2.0) == 0.0 ? floor_v : floor_v + 1.0;
}

int16_t RoundToInt16(double v) { return RoundTo<int16_t>(v, "RoundToInt16"); }
int32_t RoundToInt32(double v) { return RoundTo<int32_t>(v, "RoundToInt32"); }

double CheckedDivide(double a, double b) {
  if (b == 0.0) {
    if (a == 0.0 || std::isnan(a)) throw Error::Overflow("CheckedDivide");
    throw Error::DivisionByZero("CheckedDivide");
  }
  double q = a / b;
  if (!std::isfinite(q)) throw Error::Overflow("CheckedDivide");
  return q;
}

}  // namespace vg::platform
