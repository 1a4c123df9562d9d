#include "decoders/internal/picture_format.h"

#include <algorithm>
#include <array>

namespace vg::decoders::decoders_internal {
namespace {

bool StartsWith(std::span<const uint8_t> bytes,
                std::initializer_list<uint8_t> magic) {
  return bytes.size() >= magic.size() &&
         std::equal(magic.begin(), magic.end(), bytes.begin());
}

uint16_t ReadLe16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

PictureFormat SniffPictureFormat(std::span<const uint8_t> bytes) {
  if (StartsWith(bytes, {0xFF, 0xD8, 0xFF})) return PictureFormat::kJpeg;
  if (StartsWith(bytes, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) {
    return PictureFormat::kPng;
  }
  if (StartsWith(bytes, {'G', 'I', 'F', '8', '7', 'a'}) ||
      StartsWith(bytes, {'G', 'I', 'F', '8', '9', 'a'})) {
    return PictureFormat::kGif;
  }
  if (StartsWith(bytes, {'B', 'M'})) return PictureFormat::kBmp;
  // An icon directory: reserved 0, type 1 (icon) or 2 (cursor), a count.
  if (bytes.size() >= 6 && ReadLe16(bytes, 0) == 0 && ReadLe16(bytes, 4) > 0) {
    if (ReadLe16(bytes, 2) == 1) return PictureFormat::kIco;
    if (ReadLe16(bytes, 2) == 2) return PictureFormat::kCur;
  }
  if (StartsWith(bytes, {0xD7, 0xCD, 0xC6, 0x9A})) return PictureFormat::kWmf;
  // A plain metafile: type 1 (memory) or 2 (disk), header size 9 words,
  // version 0x0100 or 0x0300.
  if (bytes.size() >= 6 &&
      (ReadLe16(bytes, 0) == 1 || ReadLe16(bytes, 0) == 2) &&
      ReadLe16(bytes, 2) == 9 &&
      (ReadLe16(bytes, 4) == 0x0100 || ReadLe16(bytes, 4) == 0x0300)) {
    return PictureFormat::kWmf;
  }
  if (bytes.size() >= 44 && StartsWith(bytes, {1, 0, 0, 0}) &&
      std::equal(bytes.begin() + 40, bytes.begin() + 44,
                 std::array<uint8_t, 4>{' ', 'E', 'M', 'F'}.begin())) {
    return PictureFormat::kEmf;
  }
  return PictureFormat::kUnknown;
}

}  // namespace vg::decoders::decoders_internal
