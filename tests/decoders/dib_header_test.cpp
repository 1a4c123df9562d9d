// The DIB header reader that the BMP, EMF and WMF readers share: the
// fields of each header size, sides signed only past the core header, and
// nothing for a size it does not know or bytes too short for it.
#include "decoders/internal/dib_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace vg::decoders {
namespace {

using decoders_internal::DibHeader;
using decoders_internal::ReadDibHeader;

void Put(std::vector<uint8_t>* bytes, size_t at, uint32_t value, int length) {
  for (int i = 0; i < length; ++i) {
    (*bytes)[at + static_cast<size_t>(i)] =
        static_cast<uint8_t>(value >> (8 * i));
  }
}

// A header stating `header_bytes`, in `held` bytes, its fields filled at
// the places of its kind.
std::vector<uint8_t> Header(uint32_t header_bytes, size_t held) {
  std::vector<uint8_t> bytes(std::max<size_t>(held, 40));
  Put(&bytes, 0, header_bytes, 4);
  if (header_bytes == 12) {
    Put(&bytes, 4, 0x0102, 2);  // width
    Put(&bytes, 6, 0xFFFF, 2);  // height: unsigned in a core header
    Put(&bytes, 10, 8, 2);      // bits
  } else {
    Put(&bytes, 4, 300, 4);
    Put(&bytes, 8, static_cast<uint32_t>(-5), 4);  // top-down rows
    Put(&bytes, 14, 32, 2);
    Put(&bytes, 16, 3, 4);   // bit fields
    Put(&bytes, 32, 16, 4);  // colours used
  }
  bytes.resize(held);
  return bytes;
}

TEST(DibHeaderTest, ReadsTheFieldsOfEachHeaderSize) {
  struct Case {
    uint32_t header_bytes;
    size_t held;
    std::optional<DibHeader> expected;
  };
  const DibHeader core{12, 258, 65535, 8, 0, 0};
  const DibHeader info{40, 300, -5, 32, 3, 16};
  DibHeader v5 = info;
  v5.header_bytes = 124;
  const Case cases[] = {
      {12, 12, core},         {40, 40, info},
      {124, 40, v5},  // the fields lie in the first 40 bytes
      {12, 11, std::nullopt}, {40, 39, std::nullopt},
      {20, 40, std::nullopt},  // neither size
      {40, 3, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "header " << c.header_bytes << ", held " << c.held);
    const std::optional<DibHeader> got =
        ReadDibHeader(Header(c.header_bytes, c.held));
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (!got) continue;
    EXPECT_EQ(got->header_bytes, c.expected->header_bytes);
    EXPECT_EQ(got->width, c.expected->width);
    EXPECT_EQ(got->height, c.expected->height);
    EXPECT_EQ(got->bits, c.expected->bits);
    EXPECT_EQ(got->compression, c.expected->compression);
    EXPECT_EQ(got->colours_used, c.expected->colours_used);
  }
}

}  // namespace
}  // namespace vg::decoders
