#include "decoders/internal/exif_orientation.h"

#include <algorithm>
#include <array>

namespace vg::decoders::decoders_internal {
namespace {

constexpr std::array<uint8_t, 6> kExifHeader = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;

// The TIFF structure after the EXIF header, in its own byte order.
class TiffReader {
 public:
  TiffReader(std::span<const uint8_t> tiff, bool big_endian)
      : tiff_(tiff), big_endian_(big_endian) {}

  bool Has(size_t offset, size_t length) const {
    return offset <= tiff_.size() && length <= tiff_.size() - offset;
  }
  uint16_t U16(size_t at) const {
    return big_endian_ ? static_cast<uint16_t>(tiff_[at] << 8 | tiff_[at + 1])
                       : static_cast<uint16_t>(tiff_[at + 1] << 8 | tiff_[at]);
  }
  uint32_t U32(size_t at) const {
    return big_endian_ ? (uint32_t{U16(at)} << 16) | U16(at + 2)
                       : (uint32_t{U16(at + 2)} << 16) | U16(at);
  }

 private:
  std::span<const uint8_t> tiff_;
  bool big_endian_;
};

}  // namespace

int ExifOrientation(std::span<const uint8_t> app1) {
  if (app1.size() < kExifHeader.size() + 8 ||
      !std::equal(kExifHeader.begin(), kExifHeader.end(), app1.begin())) {
    return 1;
  }
  std::span<const uint8_t> tiff = app1.subspan(kExifHeader.size());
  bool big_endian;
  if (tiff[0] == 'I' && tiff[1] == 'I') {
    big_endian = false;
  } else if (tiff[0] == 'M' && tiff[1] == 'M') {
    big_endian = true;
  } else {
    return 1;
  }
  TiffReader reader(tiff, big_endian);
  if (reader.U16(2) != 42) return 1;
  // Only the first IFD (the main picture's) carries the orientation.
  size_t ifd = reader.U32(4);
  if (!reader.Has(ifd, 2)) return 1;
  size_t count = reader.U16(ifd);
  for (size_t i = 0; i < count; ++i) {
    size_t entry = ifd + 2 + i * 12;
    if (!reader.Has(entry, 12)) return 1;
    if (reader.U16(entry) != kOrientationTag) continue;
    if (reader.U16(entry + 2) != kTypeShort || reader.U32(entry + 4) != 1) {
      return 1;
    }
    int value = reader.U16(entry + 8);
    return value >= 1 && value <= 8 ? value : 1;
  }
  return 1;
}

}  // namespace vg::decoders::decoders_internal
