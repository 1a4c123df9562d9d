#include "decoders/internal/picture_format.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "decoders/internal/byte_order.h"

namespace vg::decoders::decoders_internal {
namespace {

bool StartsWith(std::span<const uint8_t> bytes,
                std::initializer_list<uint8_t> magic) {
  return bytes.size() >= magic.size() &&
         std::equal(magic.begin(), magic.end(), bytes.begin());
}

bool FourCcAt(std::span<const uint8_t> bytes, size_t at, const char* code) {
  return bytes.size() >= at + 4 &&
         std::equal(code, code + 4, bytes.begin() + static_cast<ptrdiff_t>(at));
}

// An "ftyp" box first, and among its major and compatible brands one that
// libheif reads: HEVC-coded HEIF (Apple's phones), AVIF, or the plain HEIF
// structure brands. Canon's CR3 is an "ftyp" file too, with brand "crx ".
PictureFormat SniffIsoBox(std::span<const uint8_t> bytes) {
  if (!FourCcAt(bytes, 4, "ftyp")) return PictureFormat::kUnknown;
  if (FourCcAt(bytes, 8, "crx ")) return PictureFormat::kRaw;
  static constexpr std::array<const char*, 10> kBrands = {
      "heic", "heix", "hevc", "hevx", "heim",
      "heis", "mif1", "msf1", "avif", "avis"};
  const uint64_t box = Be32(bytes, 0);
  // Major brand at 8, minor version at 12, compatible brands from 16.
  const size_t end = static_cast<size_t>(
      std::min<uint64_t>({box, bytes.size(), uint64_t{4096}}));
  for (size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4) {
    for (const char* brand : kBrands) {
      if (FourCcAt(bytes, at, brand)) return PictureFormat::kHeif;
    }
  }
  return PictureFormat::kUnknown;
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
  if (bytes.size() >= 6 && Le16(bytes, 0) == 0 && Le16(bytes, 4) > 0) {
    if (Le16(bytes, 2) == 1) return PictureFormat::kIco;
    if (Le16(bytes, 2) == 2) return PictureFormat::kCur;
  }
  if (StartsWith(bytes, {0xD7, 0xCD, 0xC6, 0x9A})) return PictureFormat::kWmf;
  // A plain metafile: type 1 (memory) or 2 (disk), header size 9 words,
  // version 0x0100 or 0x0300.
  if (bytes.size() >= 6 && (Le16(bytes, 0) == 1 || Le16(bytes, 0) == 2) &&
      Le16(bytes, 2) == 9 &&
      (Le16(bytes, 4) == 0x0100 || Le16(bytes, 4) == 0x0300)) {
    return PictureFormat::kWmf;
  }
  if (bytes.size() >= 44 && StartsWith(bytes, {1, 0, 0, 0}) &&
      std::equal(bytes.begin() + 40, bytes.begin() + 44,
                 std::array<uint8_t, 4>{' ', 'E', 'M', 'F'}.begin())) {
    return PictureFormat::kEmf;
  }
  if (StartsWith(bytes, {'R', 'I', 'F', 'F'}) && FourCcAt(bytes, 8, "WEBP")) {
    return PictureFormat::kWebp;
  }
  if (StartsWith(bytes, {'I', 'I', '*', 0}) ||
      StartsWith(bytes, {'M', 'M', 0, '*'}) ||
      StartsWith(bytes, {'I', 'I', '+', 0}) ||
      StartsWith(bytes, {'M', 'M', 0, '+'})) {
    return PictureFormat::kTiff;
  }
  if (bytes.size() >= 12) {
    if (PictureFormat iso = SniffIsoBox(bytes); iso != PictureFormat::kUnknown)
      return iso;
  }
  if (StartsWith(bytes, {'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M'}) ||  // RAF
      StartsWith(bytes, {'I', 'I', 'R', 'O'}) ||                      // ORF
      StartsWith(bytes, {'I', 'I', 'R', 'S'}) ||                      // ORF
      StartsWith(bytes, {'M', 'M', 'O', 'R'}) ||                      // ORF
      StartsWith(bytes, {'I', 'I', 'U', 0}) ||                        // RW2
      StartsWith(bytes, {0, 'M', 'R', 'M'}) ||                        // MRW
      StartsWith(bytes, {'F', 'O', 'V', 'b'})) {                      // X3F
    return PictureFormat::kRaw;
  }
  // Canon's older CRW: a CIFF heap after a little-endian byte order mark.
  if (StartsWith(bytes, {'I', 'I', 0x1A, 0}) && FourCcAt(bytes, 6, "HEAP") &&
      FourCcAt(bytes, 10, "CCDR")) {
    return PictureFormat::kRaw;
  }
  return PictureFormat::kUnknown;
}

}  // namespace vg::decoders::decoders_internal
