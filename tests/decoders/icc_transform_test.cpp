// Embedded profiles told apart: which convert, which are taken as sRGB, and
// that a profile told before (remembered by its bytes) gets the answer it
// got then, for the input it was told for only.

#include "decoders/internal/icc_transform.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "picture_testutil.h"

namespace vg::decoders {
namespace {

using decoders_internal::IccInput;
using decoders_internal::IccTransform;

TEST(IccTransformTest, AProfileToldAgainGetsTheSameAnswer) {
  const std::vector<double> srgb = testing::SrgbChromaticities();
  struct Case {
    const char* name;
    std::vector<uint8_t> profile;
    IccInput input;
    bool applies;
    bool converts;
  };
  const Case cases[] = {
      {"sRGB", testing::SrgbCurveProfile(srgb, false), IccInput::kBgrx, true,
       false},
      // The same bytes, for pixels they do not describe.
      {"sRGB for grey pixels", testing::SrgbCurveProfile(srgb, false),
       IccInput::kGray, false, false},
      {"sRGB for CMYK pixels", testing::SrgbCurveProfile(srgb, false),
       IccInput::kCmyk, false, false},
      {"grey, sRGB's curve", testing::SrgbCurveProfile({}, true),
       IccInput::kGray, true, false},
      {"sRGB's primaries, linear", testing::LinearRgbProfile(), IccInput::kBgrx,
       true, true},
      {"Adobe RGB's primaries",
       testing::SrgbCurveProfile(testing::AdobeRgbChromaticities(), false),
       IccInput::kBgrx, true, true},
      {"damaged", std::vector<uint8_t>(200, 0x5A), IccInput::kBgrx, false,
       false},
  };
  // Mid grey and a strong red, through each transform that converts: the
  // same pixels on every pass.
  const std::array<uint8_t, 8> in = {128, 128, 128, 255, 40, 60, 200, 255};
  std::vector<std::array<uint8_t, 8>> first_pass;
  // Every answer twice: the second time the sRGB ones are known.
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = 0; i < std::size(cases); ++i) {
      const Case& c = cases[i];
      SCOPED_TRACE(std::string(c.name) + (pass == 0 ? ", first" : ", again"));
      const IccTransform t = IccTransform::ToSrgb(c.profile, c.input);
      EXPECT_EQ(t.applies(), c.applies);
      EXPECT_EQ(t.valid(), c.converts);
      std::array<uint8_t, 8> out{};
      if (t.valid()) t.Convert(in.data(), out.data(), 2);
      if (pass == 0) {
        first_pass.push_back(out);
      } else {
        EXPECT_EQ(out, first_pass[i]);
      }
    }
  }
  // The linear profile brightens mid grey: its transform did convert.
  EXPECT_GT(first_pass[4][0], 150);
}

}  // namespace
}  // namespace vg::decoders
