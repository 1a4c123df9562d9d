// Feeds arbitrary bytes to the EMF reader alone, so that every mutation
// stays a EMF to it. The last two bytes of the input are the hinted width
// (1 to 256 pixels) and height (0: in proportion), which keeps the drawings
// small. A decode must either give a well-formed picture or raise 481
// (Invalid picture) or 7 (Out of memory), and two decodes of one input must
// match byte for byte.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/emf_player.h"
#include "platform/error.h"

namespace {

std::optional<vg::decoders::DecodedImage> Decode(
    std::span<const uint8_t> bytes, const vg::decoders::DecodeHint& hint) {
  try {
    return vg::decoders::decoders_internal::DecodeEmf(bytes, hint);
  } catch (const vg::platform::Error& e) {
    if (e.number() != vg::platform::kErrInvalidPicture &&
        e.number() != vg::platform::kErrOutOfMemory) {
      __builtin_trap();
    }
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  vg::decoders::DecodeHint hint{1, 0};
  if (size >= 2) {
    hint.target_width_px = 1 + data[size - 2];
    hint.target_height_px = data[size - 1];
  }
  std::optional<vg::decoders::DecodedImage> first = Decode(bytes, hint);
  if (!first) return 0;
  const vg::decoders::DecodedImage& image = *first;
  bool well_formed =
      image.width > 0 && image.height > 0 && image.pixel_width > 0 &&
      image.pixel_height > 0 && image.pixel_width <= image.width &&
      image.pixel_height <= image.height &&
      image.pixel_width <= hint.target_width_px &&
      image.stride_bytes == image.pixel_width * 4 &&
      image.bgrx.size() == static_cast<size_t>(image.stride_bytes) *
                               static_cast<size_t>(image.pixel_height);
  if (!well_formed) __builtin_trap();
  for (size_t i = 3; i < image.bgrx.size(); i += 4) {
    if (image.bgrx[i] != 255) __builtin_trap();
  }
  std::optional<vg::decoders::DecodedImage> second = Decode(bytes, hint);
  // A time limit may stop one decode and not the other.
  if (second && second->bgrx != image.bgrx) __builtin_trap();
  return 0;
}
