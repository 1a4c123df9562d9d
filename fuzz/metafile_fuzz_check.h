// The checks the metafile readers' fuzz targets make on one input. The last
// two bytes of the input are the hinted width (1 to 256 pixels) and height
// (0: in proportion), which keeps the drawings small. A decode must either
// give a well-formed picture or raise 481 (Invalid picture) or 7 (Out of
// memory), and two decodes of one input must match byte for byte.
#ifndef VG_FUZZ_METAFILE_FUZZ_CHECK_H_
#define VG_FUZZ_METAFILE_FUZZ_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"
#include "platform/error.h"

namespace vg::fuzz {

// A metafile reader under test: the bytes, the hint and a budget in, a
// picture out, or a platform::Error raised.
using MetafileDecodeFunction = vg::decoders::DecodedImage (*)(
    std::span<const uint8_t>, const vg::decoders::DecodeHint&,
    vg::decoders::decoders_internal::DecodeBudget&);

inline std::optional<vg::decoders::DecodedImage> DecodeMetafile(
    MetafileDecodeFunction decode, std::span<const uint8_t> bytes,
    const vg::decoders::DecodeHint& hint) {
  vg::decoders::decoders_internal::DecodeBudget budget(
      vg::decoders::decoders_internal::kSharedDecodeBudgetBytes);
  try {
    return decode(bytes, hint, budget);
  } catch (const vg::platform::Error& e) {
    if (e.number() != vg::platform::kErrInvalidPicture &&
        e.number() != vg::platform::kErrOutOfMemory) {
      __builtin_trap();
    }
  }
  return std::nullopt;
}

// Runs `decode` on one fuzz input and traps on any fault.
inline int FuzzMetafile(MetafileDecodeFunction decode, const uint8_t* data,
                        size_t size) {
  std::span<const uint8_t> bytes(data, size);
  vg::decoders::DecodeHint hint{1, 0};
  if (size >= 2) {
    hint.target_width_px = 1 + data[size - 2];
    hint.target_height_px = data[size - 1];
  }
  std::optional<vg::decoders::DecodedImage> first =
      DecodeMetafile(decode, bytes, hint);
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
  std::optional<vg::decoders::DecodedImage> second =
      DecodeMetafile(decode, bytes, hint);
  // A time limit may stop one decode and not the other.
  if (second && second->bgrx != image.bgrx) __builtin_trap();
  return 0;
}

}  // namespace vg::fuzz

#endif  // VG_FUZZ_METAFILE_FUZZ_CHECK_H_
