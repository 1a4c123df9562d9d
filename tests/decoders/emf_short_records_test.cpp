// EMF records too short for the parameters they need are skipped, as a
// damaged record among good ones is, and the records after them are
// drawn: their parameters are never read from the next record.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/decode_picture.h"
#include "metafile_testutil.h"
#include "picture_testutil.h"

namespace vg::decoders {
namespace {

using testing::ColorRef;
using testing::ColourDiff;
using testing::EmfWriter;
using testing::PixelAt;

TEST(EmfShortRecordTest, IsSkippedAndTheRestDrawn) {
  struct Case {
    const char* name;
    uint32_t type;
    std::vector<uint32_t> params;
  };
  const Case cases[] = {
      // Centre and radius, without the sweep angle.
      {"AngleArc", 41, {10, 10, 5, 0}},
      {"CreatePen", 38, {}},
      {"CreateBrushIndirect", 39, {}},
      {"ExtCreateFontIndirectW", 82, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmfWriter emf(40, 20);
    emf.Record(c.type, c.params)
        .SolidBrush(1, ColorRef(255, 0, 0))
        .Select(1)
        .Rectangle(0, 0, 40, 20);
    const DecodedImage image = DecodePictureBytes(emf.Finish());
    EXPECT_EQ(ColourDiff(PixelAt(image, 20, 10), {255, 0, 0}, 0), "");
  }
}

}  // namespace
}  // namespace vg::decoders
