// The orientation tag of EXIF blocks, well-formed and damaged.
#include "decoders/internal/exif_orientation.h"

#include <gtest/gtest.h>

#include <vector>

#include "picture_testutil.h"

namespace vg::decoders::decoders_internal {
namespace {

using testing::ExifWithOrientation;

TEST(ExifOrientationTest, ReadsBothByteOrders) {
  for (int o = 1; o <= 8; ++o) {
    EXPECT_EQ(ExifOrientation(ExifWithOrientation(o, false)), o);
    EXPECT_EQ(ExifOrientation(ExifWithOrientation(o, true)), o);
  }
}

TEST(ExifOrientationTest, AnythingDoubtfulMeansUpright) {
  EXPECT_EQ(ExifOrientation({}), 1);
  std::vector<uint8_t> xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.',
                              'a', 'd', 'o', 'b', 'e', '.', 'c', 'o', 'm'};
  EXPECT_EQ(ExifOrientation(xmp), 1);

  EXPECT_EQ(ExifOrientation(ExifWithOrientation(0, false)), 1);
  EXPECT_EQ(ExifOrientation(ExifWithOrientation(9, true)), 1);

  std::vector<uint8_t> bad_order = ExifWithOrientation(6, false);
  bad_order[6] = 'X';
  EXPECT_EQ(ExifOrientation(bad_order), 1);

  std::vector<uint8_t> bad_magic = ExifWithOrientation(6, false);
  bad_magic[8] = 41;
  EXPECT_EQ(ExifOrientation(bad_magic), 1);

  // The orientation entry is the second of two; cut inside it.
  std::vector<uint8_t> cut = ExifWithOrientation(6, false);
  cut.resize(6 + 8 + 2 + 12 + 6);
  EXPECT_EQ(ExifOrientation(cut), 1);

  std::vector<uint8_t> far_ifd = ExifWithOrientation(6, false);
  far_ifd[10] = 0xFF;  // first IFD offset 0x000000FF... past the end
  far_ifd[13] = 0x7F;
  EXPECT_EQ(ExifOrientation(far_ifd), 1);

  std::vector<uint8_t> many_entries = ExifWithOrientation(6, true);
  many_entries[6 + 8] = 0xFF;  // 65535 entries claimed, two present
  many_entries[6 + 9] = 0xFF;
  EXPECT_EQ(ExifOrientation(many_entries), 6);
  many_entries.resize(6 + 8 + 2 + 12);  // and now not even the second one
  EXPECT_EQ(ExifOrientation(many_entries), 1);

  std::vector<uint8_t> long_type = ExifWithOrientation(6, false);
  long_type[6 + 8 + 2 + 12 + 2] = 4;  // orientation stored as a LONG
  EXPECT_EQ(ExifOrientation(long_type), 1);
}

}  // namespace
}  // namespace vg::decoders::decoders_internal
