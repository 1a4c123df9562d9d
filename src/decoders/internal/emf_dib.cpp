#include "decoders/internal/emf_dib.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "decoders/internal/dib_header.h"
#include "decoders/internal/emf_records.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal::emf {
namespace {

// Returns the position of the mask's lowest bit and its width.
std::pair<int, int> MaskShape(uint32_t mask) {
  if (mask == 0) return {0, 0};
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  int width = 0;
  while (shift + width < 32 && ((mask >> (shift + width)) & 1) != 0) ++width;
  return {shift, width};
}

uint8_t Expand(uint32_t value, int width) {
  if (width <= 0) return 0;
  if (width >= 8) return static_cast<uint8_t>(value >> (width - 8));
  uint32_t max = (1u << width) - 1;
  return static_cast<uint8_t>((value * 255 + max / 2) / max);
}

// Writes the runs of a BI_RLE8 or BI_RLE4 bitmap, `bytes` from `at`, into
// `image` as colours of `palette`; the pixels the runs skip stay
// transparent, as they leave what lies below when a device draws them.
void DecodeRuns(const Reader& rec, size_t at, size_t bytes, int bits,
                const std::array<QRgb, 256>& palette, size_t colours,
                QImage* image) {
  image->fill(Qt::transparent);
  const int width = image->width();
  const int height = image->height();
  const size_t end = at + bytes;
  int x = 0;
  int y = 0;  // counted from the bottom row
  auto put = [&](size_t index) {
    if (x < width) {
      reinterpret_cast<QRgb*>(image->scanLine(height - 1 - y))[x] =
          index < colours ? palette[index] : qRgb(0, 0, 0);
      ++x;
    }
  };
  // Past the row's end nothing is drawn: x stops there.
  auto skip = [&](int n) { x = std::min(width, x + n); };
  auto nibble = [&](uint8_t byte, int i) -> size_t {
    return bits == 8 ? byte : (i % 2 == 0 ? byte >> 4 : byte & 0xF);
  };
  while (y < height && end - at >= 2) {
    const uint8_t count = rec.U8(at);
    const uint8_t value = rec.U8(at + 1);
    at += 2;
    if (count > 0) {
      const int n = std::min<int>(count, width - x);
      for (int i = 0; i < n; ++i) put(nibble(value, i));
      continue;
    }
    constexpr uint8_t kEndOfLine = 0;
    constexpr uint8_t kEndOfBitmap = 1;
    constexpr uint8_t kDelta = 2;
    if (value == kEndOfLine) {
      x = 0;
      ++y;
    } else if (value == kEndOfBitmap) {
      return;
    } else if (value == kDelta) {
      if (end - at < 2) return;
      skip(rec.U8(at));
      y += rec.U8(at + 1);
      at += 2;
    } else {
      // Absolute: `value` pixels as they are, padded to a 16-bit word.
      const size_t used = bits == 8 ? value : (size_t{value} + 1) / 2;
      if (end - at < used) return;
      const int n = std::min<int>(value, width - x);
      for (int i = 0; i < n; ++i) {
        put(nibble(rec.U8(at + static_cast<size_t>(bits == 8 ? i : i / 2)), i));
      }
      at += std::min(end - at, (used + 1) / 2 * 2);
    }
  }
}

// How the pixels of one bitmap turn into colours: through its palette, or
// its masks.
struct PixelFormat {
  int bits = 0;
  std::array<QRgb, 256> palette{};
  size_t colours = 0;  // palette entries present
  std::array<uint32_t, 3> masks{0x7C00, 0x03E0, 0x001F};
  std::array<std::pair<int, int>, 3> shapes{};
  bool alpha = false;

  // Returns pixel `x` of the row at `row_at`.
  QRgb At(const Reader& rec, size_t row_at, int x) const {
    switch (bits) {
      case 1:
      case 4:
      case 8: {
        const size_t bit = static_cast<size_t>(x) * static_cast<size_t>(bits);
        const uint8_t byte = rec.U8(row_at + bit / 8);
        const int shift = 8 - bits - static_cast<int>(bit % 8);
        const size_t index = (byte >> shift) & ((1u << bits) - 1);
        return index < colours ? palette[index] : qRgb(0, 0, 0);
      }
      case 24: {
        const size_t a = row_at + static_cast<size_t>(x) * 3;
        return qRgb(rec.U8(a + 2), rec.U8(a + 1), rec.U8(a));
      }
      default:  // 16 and 32 bits, through masks
        return Masked(bits == 16
                          ? rec.U16(row_at + static_cast<size_t>(x) * 2)
                          : rec.U32(row_at + static_cast<size_t>(x) * 4));
    }
  }

  QRgb Masked(uint32_t v) const {
    uint8_t c[3];
    for (size_t i = 0; i < 3; ++i) {
      c[i] = Expand((v & masks[i]) >> shapes[i].first, shapes[i].second);
    }
    if (!alpha) return qRgb(c[0], c[1], c[2]);
    // A colour brighter than its alpha is not premultiplied data; held to
    // the alpha, blending cannot overflow.
    const auto a = static_cast<uint8_t>(v >> 24);
    return qRgba(std::min(c[0], a), std::min(c[1], a), std::min(c[2], a), a);
  }
};

PixelFormat FormatOf(const Reader& rec, const DibFields& f, const DibInfo& info,
                     const DibOptions& options) {
  PixelFormat format;
  format.bits = info.bits;
  const size_t entry = info.header_bytes == kDibCoreHeaderBytes ? 3 : 4;
  const size_t palette_at = f.off_bmi + info.header_bytes;
  format.colours = info.colours;
  for (size_t i = 0; i < format.colours; ++i) {
    if (f.usage == kDibPalColors) {
      format.palette[i] =
          PaletteEntry(options.palette, rec.U16(palette_at + i * 2));
      continue;
    }
    const size_t at = palette_at + i * entry;
    format.palette[i] = qRgb(rec.U8(at + 2), rec.U8(at + 1), rec.U8(at));
  }
  if (options.two_colours && info.bits == 1) {
    format.palette[0] = (*options.two_colours)[0];
    format.palette[1] = (*options.two_colours)[1];
    format.colours = 2;
  }
  format.alpha = options.alpha && info.bits == 32;
  if (info.bits == 32) format.masks = {0xFF0000, 0xFF00, 0xFF};
  if (info.compression == kBiBitfields) {
    // After a 40-byte header, or inside a larger one.
    const size_t at = f.off_bmi + kDibInfoHeaderBytes;
    for (size_t i = 0; i < 3; ++i) format.masks[i] = rec.U32(at + 4 * i);
  }
  for (size_t i = 0; i < 3; ++i) format.shapes[i] = MaskShape(format.masks[i]);
  return format;
}

}  // namespace

std::optional<DibFields> DibFieldsOf(const Reader& rec, uint32_t type) {
  size_t at = 0;
  size_t usage_at = 0;  // 0: the record states no colour usage
  switch (type) {
    case kStretchDiBits:
    case kSetDiBitsToDevice:
      at = 48;
      usage_at = 64;  // after the bits' offset and size
      break;
    case kBitBlt:
    case kStretchBlt:
    case kMaskBlt:
    case kAlphaBlend:
    case kTransparentBlt:
      at = 84;
      usage_at = 80;
      break;
    case kPlgBlt:
      at = 96;
      usage_at = 92;
      break;
    case kCreateMonoBrush:
    case kCreateDibPatternBrushPt:
      at = 16;  // after the handle and the colour usage
      usage_at = 12;
      break;
    case kExtCreatePen:
      at = 12;
      break;
    default:
      return std::nullopt;
  }
  if (!rec.Has(at, 16) || !rec.Has(usage_at, 4)) return std::nullopt;
  return DibFields{rec.U32(at), rec.U32(at + 4), rec.U32(at + 8),
                   rec.U32(at + 12), usage_at != 0 ? rec.U32(usage_at) : 0};
}

// A MaskBlt's or PlgBlt's mask, a 1-bit bitmap, or nothing.
std::optional<DibFields> MaskFieldsOf(const Reader& rec, uint32_t type) {
  const size_t at = type == kMaskBlt ? 112 : type == kPlgBlt ? 124 : 0;
  if (at == 0 || !rec.Has(at, 16)) return std::nullopt;
  return DibFields{rec.U32(at), rec.U32(at + 4), rec.U32(at + 8),
                   rec.U32(at + 12)};
}

std::optional<DibInfo> ReadDibInfo(const Reader& rec, const DibFields& f,
                                   bool band) {
  const uint32_t cb_bmi = f.cb_bmi;
  const uint32_t cb_bits = f.cb_bits;
  if (cb_bmi == 0 || cb_bits == 0) return std::nullopt;
  if (!rec.Has(f.off_bmi, cb_bmi) || !rec.Has(f.off_bits, cb_bits) ||
      cb_bmi < kDibCoreHeaderBytes) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const std::optional<DibHeader> dib =
      ReadDibHeader(rec.bytes().subspan(f.off_bmi, cb_bmi));
  if (!dib || dib->header_bytes > cb_bmi) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const uint32_t header = dib->header_bytes;
  DibInfo info;
  info.width = dib->width;
  info.height = dib->height;
  info.bits = dib->bits;
  info.compression = dib->compression;
  info.header_bytes = header;
  CheckPictureSides(info.width, std::abs(info.height));
  const bool runs = (info.compression == kBiRle8 && info.bits == 8) ||
                    (info.compression == kBiRle4 && info.bits == 4);
  // Runs are stored bottom-up only.
  if (runs && info.height < 0) return std::nullopt;
  if (!runs && info.compression != kBiRgb && info.compression != kBiBitfields) {
    return std::nullopt;
  }
  if (info.bits != 1 && info.bits != 4 && info.bits != 8 && info.bits != 16 &&
      info.bits != 24 && info.bits != 32) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const int64_t stride = (info.width * info.bits + 31) / 32 * 4;
  if (!runs && stride * std::abs(info.height) > int64_t{cb_bits}) {
    if (band) return std::nullopt;
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const size_t entry = f.usage == kDibPalColors        ? 2
                       : header == kDibCoreHeaderBytes ? 3
                                                       : 4;
  size_t masks =
      info.compression == kBiBitfields && header == kDibInfoHeaderBytes ? 12
                                                                        : 0;
  if (info.bits <= 8) {
    size_t used = dib->colours_used;
    const size_t full = size_t{1} << info.bits;
    if (used == 0 || used > full) used = full;
    // What the header has room for; indices past it come out black.
    info.colours = std::min(used, (cb_bmi - header - masks) / entry);
  }
  if (header + masks > cb_bmi) RaisePictureError(platform::kErrInvalidPicture);
  // Its rows fit in its record (runs, whatever they hold, are written
  // within the bitmap): only now may its size say "too large".
  CheckDecodedPixels(info.width, std::abs(info.height), info.width,
                     std::abs(info.height));
  return info;
}

QImage ReadDib(const Reader& rec, const DibFields& f,
               const DibOptions& options) {
  std::optional<DibInfo> found = ReadDibInfo(rec, f, options.band);
  if (!found) return {};
  const DibInfo& info = *found;
  const auto width = static_cast<int>(info.width);
  const auto height = static_cast<int>(std::abs(info.height));
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) RaisePictureError(platform::kErrOutOfMemory);
  const PixelFormat format = FormatOf(rec, f, info, options);
  if (info.compression == kBiRle8 || info.compression == kBiRle4) {
    DecodeRuns(rec, f.off_bits, f.cb_bits, info.bits, format.palette,
               format.colours, &image);
    return image;
  }
  const size_t stride =
      static_cast<size_t>((info.width * info.bits + 31) / 32 * 4);
  for (int y = 0; y < height; ++y) {
    // Bottom-up rows, like every DIB that states a positive height.
    const int row = info.height > 0 ? height - 1 - y : y;
    const size_t at = f.off_bits + static_cast<size_t>(row) * stride;
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) out[x] = format.At(rec, at, x);
  }
  return image;
}

}  // namespace vg::decoders::decoders_internal::emf
