// Feeds arbitrary bytes to the picture decoders. The last two bytes of the
// input are also the hinted target width and height (0 to 255 pixels), so
// that every reduced JPEG scale is reached. A decode must either give a
// well-formed picture or raise 481 (Invalid picture) or 7 (Out of memory).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/qt_decoder.h"
#include "platform/error.h"

namespace {

using vg::decoders::decoders_internal::HeaderSize;
using vg::decoders::decoders_internal::PictureFormat;
using vg::decoders::decoders_internal::SniffPictureFormat;
using vg::decoders::decoders_internal::StatedSize;

// Inputs claiming more than this are skipped: the decoders refuse only past
// 2^27 pixels, and a fuzzer that decodes 100-megapixel pictures finds little.
constexpr int64_t kFuzzMaxPixels = int64_t{1} << 22;

uint32_t Be(std::span<const uint8_t> d, size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | d[at + static_cast<size_t>(i)];
  return v;
}

uint32_t Le(std::span<const uint8_t> d, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | d[at + static_cast<size_t>(i)];
  return v;
}

// Returns width x height, each side capped at 2^31 so that the product
// cannot overflow.
int64_t Area(int64_t width, int64_t height) {
  auto side = [](int64_t v) {
    return std::min<int64_t>(v < 0 ? -v : v, int64_t{1} << 31);
  };
  return side(width) * side(height);
}

// Returns the most pixels that any PNG header inside the input claims (a PNG
// file, or an icon image stored as PNG).
int64_t PngHeaderPixels(std::span<const uint8_t> d) {
  int64_t most = 0;
  for (size_t at = 0; at + 12 <= d.size(); ++at) {
    if (d[at] == 'I' && d[at + 1] == 'H' && d[at + 2] == 'D' &&
        d[at + 3] == 'R') {
      most = std::max(most, Area(Be(d, at + 4, 4), Be(d, at + 8, 4)));
    }
  }
  return most;
}

// Returns the number of pixels the input's header claims, where it is easy to
// find (JPEG frame, PNG header, GIF screen, BMP header, icon images); 0 when
// unknown.
int64_t ClaimedPixels(std::span<const uint8_t> d) {
  if (d.size() >= 6 && d[0] == 0 && d[1] == 0 && (d[2] == 1 || d[2] == 2)) {
    int64_t most = PngHeaderPixels(d);
    for (size_t i = 0; i < Le(d, 4, 2) && 6 + i * 16 + 16 <= d.size(); ++i) {
      size_t offset = Le(d, 6 + i * 16 + 12, 4);
      if (offset < d.size() && d.size() - offset >= 12) {
        int64_t w = static_cast<int32_t>(Le(d, offset + 4, 4));
        int64_t h = static_cast<int32_t>(Le(d, offset + 8, 4));
        most = std::max(most, Area(w, h) / 2);
      }
    }
    return most;
  }
  if (d.size() >= 24 && d[0] == 0x89 && d[1] == 'P') return PngHeaderPixels(d);
  // BMP and GIF: the decoders' own reading of the header (for a GIF, the
  // screen widened to the first frame).
  PictureFormat format = SniffPictureFormat(d);
  if (format == PictureFormat::kBmp || format == PictureFormat::kGif) {
    std::optional<StatedSize> size = HeaderSize(d, format);
    return size ? Area(size->width, size->height) : 0;
  }
  if (d.size() >= 4 && d[0] == 0xFF && d[1] == 0xD8) {
    size_t at = 2;
    int64_t most = 0;
    // Every frame header counts: a file may hold several.
    while (at + 9 <= d.size()) {
      if (d[at] != 0xFF) {
        ++at;
        continue;
      }
      uint8_t marker = d[at + 1];
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
          marker != 0xC8 && marker != 0xCC) {
        most = std::max(most, Area(Be(d, at + 5, 2), Be(d, at + 7, 2)));
      }
      at += 2;
    }
    return most;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  if (ClaimedPixels(bytes) > kFuzzMaxPixels) return 0;
  vg::decoders::DecodeHint hint;
  if (size >= 2) {
    hint.target_width_px = data[size - 2];
    hint.target_height_px = data[size - 1];
  }
  try {
    vg::decoders::DecodedImage image =
        vg::decoders::DecodePictureBytes(bytes, hint);
    bool well_formed =
        image.width > 0 && image.height > 0 && image.pixel_width > 0 &&
        image.pixel_height > 0 && image.pixel_width <= image.width &&
        image.pixel_height <= image.height &&
        image.stride_bytes == image.pixel_width * 4 &&
        image.bgrx.size() == static_cast<size_t>(image.stride_bytes) *
                                 static_cast<size_t>(image.pixel_height);
    if (!well_formed) __builtin_trap();
    // Every 4th byte is 255; reading them all also shows uninitialised
    // pixels to a memory sanitizer.
    for (size_t i = 3; i < image.bgrx.size(); i += 4) {
      if (image.bgrx[i] != 255) __builtin_trap();
    }
  } catch (const vg::platform::Error& e) {
    if (e.number() != vg::platform::kErrInvalidPicture &&
        e.number() != vg::platform::kErrOutOfMemory) {
      __builtin_trap();
    }
  }
  return 0;
}
