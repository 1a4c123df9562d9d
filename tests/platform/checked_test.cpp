#include "platform/checked.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/error.h"

namespace vg::platform {
namespace {

int NumberOf(auto&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(CheckedTest, Int16BoundariesRaiseOverflow) {
  EXPECT_EQ(CheckedAdd16(32766, 1), 32767);
  EXPECT_EQ(NumberOf([] { CheckedAdd16(32767, 1); }), kErrOverflow);
  EXPECT_EQ(CheckedSub16(-32767, 1), -32768);
  EXPECT_EQ(NumberOf([] { CheckedSub16(-32768, 1); }), kErrOverflow);
  EXPECT_EQ(CheckedMul16(-256, 128), -32768);
  EXPECT_EQ(NumberOf([] { CheckedMul16(256, 128); }), kErrOverflow);
}

TEST(CheckedTest, Int32BoundariesRaiseOverflow) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(CheckedAdd32(kMax - 1, 1), kMax);
  EXPECT_EQ(NumberOf([] { CheckedAdd32(kMax, 1); }), kErrOverflow);
  EXPECT_EQ(NumberOf([] { CheckedSub32(kMin, 1); }), kErrOverflow);
  // The widest DIB row that still fits: 715,827,882 * 3 overflows.
  EXPECT_EQ(CheckedMul32(715827882, 3), 2147483646);
  EXPECT_EQ(NumberOf([] { CheckedMul32(715827883, 3); }), kErrOverflow);
}

TEST(CheckedTest, RoundsHalvesToEven) {
  EXPECT_EQ(RoundToInt32(112.5), 112);
  EXPECT_EQ(RoundToInt32(113.5), 114);
  EXPECT_EQ(RoundToInt32(-0.5), 0);
  EXPECT_EQ(RoundToInt32(-1.5), -2);
  EXPECT_EQ(RoundToInt32(49.95), 50);
  EXPECT_EQ(RoundToInt32(2.4999999), 2);
  EXPECT_EQ(RoundToInt16(32767.49), 32767);
  EXPECT_EQ(RoundToInt16(-32768.5), -32768);  // even neighbour fits
}

TEST(CheckedTest, RoundingOutOfRangeOrNanRaisesOverflow) {
  EXPECT_EQ(NumberOf([] { RoundToInt16(32767.5); }), kErrOverflow);
  EXPECT_EQ(NumberOf([] { RoundToInt16(-32769.0); }), kErrOverflow);
  EXPECT_EQ(NumberOf([] { RoundToInt32(2147483647.5); }), kErrOverflow);
  EXPECT_EQ(RoundToInt32(-2147483648.4), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(NumberOf([] { RoundToInt32(std::nan("")); }), kErrOverflow);
  EXPECT_EQ(NumberOf([] { RoundToInt32(INFINITY); }), kErrOverflow);
}

TEST(CheckedTest, DivisionFailuresCarryTheirNumbers) {
  EXPECT_DOUBLE_EQ(CheckedDivide(2000, 3000.0 / 150), 100.0);
  EXPECT_EQ(NumberOf([] { CheckedDivide(5, 0); }), kErrDivisionByZero);
  EXPECT_EQ(NumberOf([] { CheckedDivide(0, 0); }), kErrOverflow);
  EXPECT_EQ(NumberOf([] { CheckedDivide(1e308, 1e-10); }), kErrOverflow);
}

TEST(ErrorTest, CarriesNumberSourceDescriptionAndHelpFile) {
  Error e(26001, "vignettes.mIntelJPEGLibrary", "Failed to save to JPG -3",
          "48");
  EXPECT_EQ(e.number(), 26001);
  EXPECT_EQ(e.source(), "vignettes.mIntelJPEGLibrary");
  EXPECT_EQ(e.description(), "Failed to save to JPG -3");
  EXPECT_EQ(e.help_file(), "48");
  EXPECT_EQ(Error::InvalidCall("x").description(),
            "Invalid procedure call or argument");
  EXPECT_EQ(Error::Overflow("x").number(), 6);
  EXPECT_EQ(Error::DivisionByZero("x").description(), "Division by zero");
  EXPECT_FALSE(ProgramName().empty());
  EXPECT_EQ(ProgramName().find('/'), std::string::npos);
}

}  // namespace
}  // namespace vg::platform
