#include "decoders/internal/dib_header.h"

#include "decoders/internal/byte_order.h"

namespace vg::decoders::decoders_internal {

std::optional<DibHeader> ReadDibHeader(std::span<const uint8_t> dib) {
  if (!Holds(dib, 0, 4)) return std::nullopt;
  DibHeader header;
  header.header_bytes = Le32(dib, 0);
  if (header.header_bytes == kDibCoreHeaderBytes &&
      Holds(dib, 0, kDibCoreHeaderBytes)) {
    header.width = Le16(dib, 4);
    header.height = Le16(dib, 6);
    header.bits = Le16(dib, 10);
    return header;
  }
  if (header.header_bytes < kDibInfoHeaderBytes ||
      !Holds(dib, 0, kDibInfoHeaderBytes)) {
    return std::nullopt;
  }
  header.width = static_cast<int32_t>(Le32(dib, 4));
  header.height = static_cast<int32_t>(Le32(dib, 8));
  header.bits = Le16(dib, 14);
  header.compression = Le32(dib, 16);
  header.colours_used = Le32(dib, 32);
  return header;
}

}  // namespace vg::decoders::decoders_internal
