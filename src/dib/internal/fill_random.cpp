#include "dib/internal/fill_random.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <ctime>

namespace vg::dib::dib_internal {

uint8_t ByteFromDraw(float draw) {
  // draw * 255 is exact in double (24 + 8 bits), so the only rounding is the
  // one to an integer; nearbyint rounds halves to even in the default mode.
  const double v = std::nearbyint(static_cast<double>(draw) * 255.0);
  if (!(v >= 0.0)) return 0;  // also NaN
  if (v > 255.0) return 255;
  return static_cast<uint8_t>(v);
}

float NextUnitFloat(std::mt19937& engine) {
  const auto bits = static_cast<uint32_t>(engine()) >> 8;
  return static_cast<float>(bits) * 0x1.0p-24f;
}

float SecondsSinceMidnight() {
  using std::chrono::system_clock;
  const system_clock::time_point now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  // to_time_t truncates or rounds depending on the library: take the
  // fraction from the clock itself, relative to the whole second it names.
  const double fraction =
      std::chrono::duration<double>(now - system_clock::from_time_t(t)).count();
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 +
                         local.tm_sec + std::clamp(fraction, 0.0, 0.999999);
  return static_cast<float>(seconds);
}

std::mt19937 EngineFromSeconds(float seconds) {
  return std::mt19937(std::bit_cast<uint32_t>(seconds));
}

void FillRandom(uint8_t* bits, int32_t width_px, int32_t height_px,
                int32_t stride_bytes, bool gray, std::mt19937& engine) {
  FillRandom(bits, width_px, height_px, stride_bytes, gray,
             [&engine] { return NextUnitFloat(engine); });
}

}  // namespace vg::dib::dib_internal
