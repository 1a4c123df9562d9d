#include "decoders/internal/bmp_reader.h"

#include <algorithm>
#include <bit>
#include <new>
#include <vector>

#include "decoders/internal/byte_order.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/dib_header.h"
#include "decoders/internal/icc_transform.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/upright_builder.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

constexpr size_t kFileHeaderBytes = 14;
// Header sizes: the V3 (alpha mask) and V5 (profile) headers that grow
// BITMAPINFOHEADER.
constexpr uint32_t kV3HeaderBytes = 56;
constexpr uint32_t kV5HeaderBytes = 124;
// The orientation that turns a bottom-up picture upright: rows upside down,
// like every DIB stored with a positive height.
constexpr int kBottomUp = 4;

// One channel of a bit field: where its bits lie in a pixel, and their
// largest value.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;  // 0: the channel is absent

  explicit Channel(uint32_t m) : mask(m) {
    if (mask == 0) return;
    shift = std::countr_zero(mask);
    max = mask >> shift;
  }

  // Returns the channel of `pixel` scaled to 0..255, rounded.
  uint8_t Of(uint32_t pixel) const {
    const uint64_t value = (pixel & mask) >> shift;
    return static_cast<uint8_t>((value * 255 + max / 2) / max);
  }
};

}  // namespace

std::optional<DecodedImage> DecodeBmp(std::span<const uint8_t> bytes,
                                      const DecodeHint& hint,
                                      DecodeBudget& budget) {
  if (bytes.size() < kFileHeaderBytes + kDibInfoHeaderBytes) {
    return std::nullopt;
  }
  const std::optional<DibHeader> dib =
      ReadDibHeader(bytes.subspan(kFileHeaderBytes));
  if (!dib || dib->header_bytes < kDibInfoHeaderBytes ||
      dib->header_bytes > bytes.size() - kFileHeaderBytes) {
    return std::nullopt;
  }
  const uint32_t header_bytes = dib->header_bytes;
  const auto at = [](size_t offset) { return kFileHeaderBytes + offset; };
  const auto bits = static_cast<uint16_t>(dib->bits);
  const uint32_t compression = dib->compression;

  const bool fields =
      compression == kBiBitfields || compression == kBiAlphaBitfields;
  if (compression != kBiRgb && !fields) return std::nullopt;
  if (bits != 16 && bits != 24 && bits != 32) return std::nullopt;
  if (fields && bits == 24) return std::nullopt;

  std::span<const uint8_t> profile;
  if (header_bytes >= kV5HeaderBytes &&
      Le32(bytes, at(56)) == kBmpProfileEmbedded) {
    // The profile's offset counts from the start of the info header.
    const uint64_t offset = uint64_t{Le32(bytes, at(112))} + kFileHeaderBytes;
    const uint64_t length = Le32(bytes, at(116));
    if (offset < bytes.size() && length > 0 &&
        length <= bytes.size() - offset) {
      profile = bytes.subspan(offset, length);
    }
  }
  // QtGui reads the rest well: 32-bit pixels without fields, 24-bit ones.
  if (!fields && bits != 16 && profile.empty()) return std::nullopt;

  uint32_t masks[4] = {0, 0, 0, 0};
  if (fields) {
    // The masks follow the 40 bytes of BITMAPINFOHEADER, inside the larger
    // headers, else after it; an alpha mask from V3 on, or when the
    // compression says so.
    const size_t count =
        compression == kBiAlphaBitfields || header_bytes >= kV3HeaderBytes ? 4
                                                                           : 3;
    if (at(kDibInfoHeaderBytes) + count * 4 > bytes.size()) {
      RaiseInvalidPicture("BMP: its colour masks are cut short");
    }
    for (size_t i = 0; i < count; ++i) {
      masks[i] = Le32(bytes, at(kDibInfoHeaderBytes) + i * 4);
    }
  } else if (bits == 16) {
    masks[0] = 0x7C00;  // 5-5-5
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  } else {
    masks[0] = 0x00FF0000;
    masks[1] = 0x0000FF00;
    masks[2] = 0x000000FF;
  }
  if (bits == 16) {
    for (uint32_t& m : masks) m &= 0xFFFF;
  }
  const Channel red(masks[0]);
  const Channel green(masks[1]);
  const Channel blue(masks[2]);
  const Channel alpha(masks[3]);

  // A negative height stores the rows top-down.
  const bool top_down = dib->height < 0;
  const int64_t width = dib->width;
  const int64_t height = top_down ? -dib->height : dib->height;
  CheckPictureSize(width, height);
  const auto w = static_cast<int32_t>(width);
  const auto h = static_cast<int32_t>(height);
  // Rows are padded to 4 bytes; sides are at most kMaxPictureSidePx, so
  // neither product overflows.
  const uint64_t stride =
      (uint64_t{static_cast<uint32_t>(w)} * bits + 31) / 32 * 4;
  const uint32_t pixel_offset = Le32(bytes, 10);
  const uint64_t rows_held =
      pixel_offset < bytes.size()
          ? std::min<uint64_t>((bytes.size() - pixel_offset) / stride,
                               static_cast<uint64_t>(h))
          : 0;

  const int orientation = top_down ? 1 : kBottomUp;
  IccTransform icc = IccTransform::ToSrgb(profile, IccInput::kBgrx);
  const int32_t factor = ReductionFactor(w, h, StoredHint(hint, orientation));
  DecodeBudget::Lease lease = budget.Take(
      int64_t{w} * 8 + UprightBuilder::HeldBytes(w, h, factor, orientation));
  std::vector<uint8_t> row;
  std::vector<uint8_t> converted;
  try {
    row.resize(static_cast<size_t>(w) * 4);
    if (icc.valid()) converted.resize(static_cast<size_t>(w) * 4);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  UprightBuilder builder(w, h, factor, orientation, hint.keep_alpha);
  const size_t pixel_bytes = bits / 8;
  for (uint64_t y = 0; y < rows_held; ++y) {
    const uint8_t* in = bytes.data() + pixel_offset + y * stride;
    uint8_t* out = row.data();
    for (int32_t x = 0; x < w; ++x, in += pixel_bytes, out += 4) {
      uint32_t pixel = 0;
      for (size_t b = 0; b < pixel_bytes; ++b)
        pixel |= uint32_t{in[b]} << (8 * b);
      const uint8_t a = alpha.max != 0 ? alpha.Of(pixel) : 255;
      out[0] = blue.max != 0 ? blue.Of(pixel) : 0;
      out[1] = green.max != 0 ? green.Of(pixel) : 0;
      out[2] = red.max != 0 ? red.Of(pixel) : 0;
      out[3] = a;
    }
    uint8_t* colours = row.data();
    if (icc.valid()) {
      icc.Convert(row.data(), converted.data(), w);
      for (size_t i = 3; i < converted.size(); i += 4) converted[i] = row[i];
      colours = converted.data();
    }
    if (!hint.keep_alpha) {
      // Composited on white.
      for (size_t i = 0; i < row.size(); i += 4) {
        const uint32_t a = colours[i + 3];
        if (a == 255) continue;
        for (size_t c = 0; c < 3; ++c) {
          colours[i + c] = static_cast<uint8_t>(
              (colours[i + c] * a + 255 * (255 - a) + 127) / 255);
        }
        colours[i + 3] = 255;
      }
    }
    builder.AddRow(colours);
  }
  return builder.Finish();
}

}  // namespace vg::decoders::decoders_internal
