#include "decoders/internal/emf_player.h"

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPen>
#include <QTransform>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/emf_plus.h"
#include "decoders/internal/metafile_raster.h"
#include "decoders/internal/outline_font.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// Record types.
enum : uint32_t {
  kHeader = 1,
  kPolyBezier = 2,
  kPolygon = 3,
  kPolyline = 4,
  kPolyBezierTo = 5,
  kPolylineTo = 6,
  kPolyPolyline = 7,
  kPolyPolygon = 8,
  kSetWindowExtEx = 9,
  kSetWindowOrgEx = 10,
  kSetViewportExtEx = 11,
  kSetViewportOrgEx = 12,
  kEof = 14,
  kSetMapMode = 17,
  kSetBkMode = 18,
  kSetPolyFillMode = 19,
  kSetTextAlign = 22,
  kSetTextColor = 24,
  kSetBkColor = 25,
  kMoveToEx = 27,
  kExcludeClipRect = 29,
  kIntersectClipRect = 30,
  kScaleViewportExtEx = 31,
  kScaleWindowExtEx = 32,
  kSaveDc = 33,
  kRestoreDc = 34,
  kSetWorldTransform = 35,
  kModifyWorldTransform = 36,
  kSelectObject = 37,
  kCreatePen = 38,
  kCreateBrushIndirect = 39,
  kDeleteObject = 40,
  kAngleArc = 41,
  kEllipse = 42,
  kRectangle = 43,
  kRoundRect = 44,
  kArc = 45,
  kChord = 46,
  kPie = 47,
  kLineTo = 54,
  kArcTo = 55,
  kSetArcDirection = 57,
  kBeginPath = 59,
  kEndPath = 60,
  kCloseFigure = 61,
  kFillPath = 62,
  kStrokeAndFillPath = 63,
  kStrokePath = 64,
  kSelectClipPath = 67,
  kAbortPath = 68,
  kComment = 70,
  kExtSelectClipRgn = 75,
  kBitBlt = 76,
  kStretchBlt = 77,
  kMaskBlt = 78,
  kSetDiBitsToDevice = 80,
  kStretchDiBits = 81,
  kExtCreateFontIndirectW = 82,
  kExtTextOutA = 83,
  kExtTextOutW = 84,
  kPolyBezier16 = 85,
  kPolygon16 = 86,
  kPolyline16 = 87,
  kPolyBezierTo16 = 88,
  kPolylineTo16 = 89,
  kPolyPolyline16 = 90,
  kPolyPolygon16 = 91,
  kCreateMonoBrush = 93,
  kCreateDibPatternBrushPt = 94,
  kExtCreatePen = 95,
  kAlphaBlend = 114,
  kTransparentBlt = 116,
};

constexpr size_t kHeaderMinBytes = 88;
constexpr uint32_t kStockObject = 0x80000000;

// Stock objects, by their index below kStockObject.
enum : uint32_t {
  kWhiteBrush = 0,
  kLtGrayBrush = 1,
  kGrayBrush = 2,
  kDkGrayBrush = 3,
  kBlackBrush = 4,
  kNullBrush = 5,
  kWhitePen = 6,
  kBlackPen = 7,
  kNullPen = 8,
  kOemFixedFont = 10,
  kAnsiFixedFont = 11,
  kAnsiVarFont = 12,
  kSystemFont = 13,
  kDeviceDefaultFont = 14,
  kSystemFixedFont = 16,
  kDefaultGuiFont = 17,
  kDcBrush = 18,  // black until set, and no record sets it
  kDcPen = 19,
};

// How a clipping region or path combines with the current clip.
enum : uint32_t {
  kRgnAnd = 1,
  kRgnOr = 2,
  kRgnDiff = 4,
  kRgnCopy = 5,
};

// How ModifyWorldTransform combines its matrix with the world transform.
enum : uint32_t {
  kMwtIdentity = 1,
  kMwtLeftMultiply = 2,
  kMwtRightMultiply = 3,
  kMwtSet = 4,  // what SetWorldTransform does
};

// Text alignment bits.
constexpr uint32_t kTaUpdateCp = 1;
constexpr uint32_t kTaRight = 2;
constexpr uint32_t kTaCenter = 6;
constexpr uint32_t kTaBottom = 8;
constexpr uint32_t kTaBaseline = 24;
// ExtTextOut's option of advances in both directions.
constexpr uint32_t kEtoPdy = 0x2000;

// Raster operations with a meaning here.
constexpr uint32_t kPatCopy = 0x00F00021;
constexpr uint32_t kBlackness = 0x00000042;
constexpr uint32_t kWhiteness = 0x00FF0062;
// The same operations by the index byte of their code (bits 16-23), the
// form a MaskBlt's two operations take.
enum : uint32_t {
  kRop3NotSrcCopy = 0x33,
  kRop3SrcInvert = 0x66,  // source XOR destination
  kRop3SrcAnd = 0x88,
  kRop3DstCopy = 0xAA,  // the destination left as it is
  kRop3SrcCopy = 0xCC,
  kRop3SrcPaint = 0xEE,  // source OR destination
};
// The BLENDFUNCTION's alpha format: the source's own alpha, premultiplied.
constexpr uint32_t kAcSrcAlpha = 0x01;

// Bitmap compressions.
enum : uint32_t {
  kBiRgb = 0,
  kBiRle8 = 1,
  kBiRle4 = 2,
  kBiBitfields = 3,
};

constexpr double kMmPerInch = 25.4;
constexpr double kDefaultPxPerMm = kMetafileDotsPerInch / kMmPerInch;
// A shape reaching further than this many times the picture's larger side
// beyond it is cut to the picture before it is drawn.
constexpr double kFarOutsideSides = 4;
// The default font's height, in logical units, when a font says 0.
constexpr double kDefaultFontHeight = 16;

class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool Has(size_t at, size_t n) const {
    return at <= bytes_.size() && n <= bytes_.size() - at;
  }
  uint32_t U32(size_t at) const {
    return uint32_t{bytes_[at]} | uint32_t{bytes_[at + 1]} << 8 |
           uint32_t{bytes_[at + 2]} << 16 | uint32_t{bytes_[at + 3]} << 24;
  }
  int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }
  uint16_t U16(size_t at) const {
    return static_cast<uint16_t>(bytes_[at] | bytes_[at + 1] << 8);
  }
  int16_t I16(size_t at) const { return static_cast<int16_t>(U16(at)); }
  float F32(size_t at) const {
    uint32_t bits = U32(at);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }
  uint8_t U8(size_t at) const { return bytes_[at]; }
  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  std::span<const uint8_t> bytes_;
};

QColor ColorRef(uint32_t ref) {
  return {static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
          static_cast<int>((ref >> 16) & 0xFF)};
}

struct RectL {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

RectL ReadRect(const Reader& r, size_t at) {
  return {r.I32(at), r.I32(at + 4), r.I32(at + 8), r.I32(at + 12)};
}

QRectF ToRectF(const RectL& r) {
  return QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom))
      .normalized();
}

// A bitmap's header, checked against the record that holds it.
struct DibInfo {
  int64_t width = 0;
  int64_t height = 0;  // negative: top-down rows
  int bits = 0;
  uint32_t compression = 0;
  size_t header_bytes = 0;
  size_t colours = 0;  // palette entries present
};

// Returns the header of the bitmap at offBmi/cbBmi, offBits/cbBits of a
// record, or nothing when the record holds none or one of a kind not drawn
// here (JPEG or PNG inside). Raises 481 when its size is over the limits or
// its pixels or palette lie outside the record. With `band`, bits that hold
// fewer rows than the header states (a band of scan lines) are a bitmap not
// drawn here rather than damage.
std::optional<DibInfo> ReadDibInfo(const Reader& rec, uint32_t off_bmi,
                                   uint32_t cb_bmi, uint32_t off_bits,
                                   uint32_t cb_bits, bool band = false) {
  if (cb_bmi == 0 || cb_bits == 0) return std::nullopt;
  if (!rec.Has(off_bmi, cb_bmi) || !rec.Has(off_bits, cb_bits) || cb_bmi < 12 ||
      !rec.Has(off_bmi, 12)) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  DibInfo info;
  const uint32_t header = rec.U32(off_bmi);
  if (header == 12) {
    info.width = rec.U16(off_bmi + 4);
    info.height = rec.U16(off_bmi + 6);
    info.bits = rec.U16(off_bmi + 10);
  } else if (header >= 40 && header <= cb_bmi) {
    info.width = rec.I32(off_bmi + 4);
    info.height = rec.I32(off_bmi + 8);
    info.bits = rec.U16(off_bmi + 14);
    info.compression = rec.U32(off_bmi + 16);
  } else {
    RaisePictureError(platform::kErrInvalidPicture);
  }
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
  const size_t entry = header == 12 ? 3 : 4;
  size_t masks = info.compression == kBiBitfields && header == 40 ? 12 : 0;
  if (info.bits <= 8) {
    size_t used = header >= 40 ? rec.U32(off_bmi + 32) : 0;
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

// How a record's bitmap is read beyond its own header.
struct DibOptions {
  // A 32-bit bitmap's fourth byte is its alpha, its colours premultiplied.
  bool alpha = false;
  // The two colours of a 1-bit bitmap, in place of its palette.
  std::optional<std::array<QRgb, 2>> two_colours;
  // The bits may hold a band of the rows only (SetDIBitsToDevice).
  bool band = false;
};

// Returns the bitmap of a record as an upright premultiplied ARGB32 image,
// opaque unless `options` or its runs say otherwise, or a null image when
// the record holds none that is drawn here.
QImage ReadDib(const Reader& rec, uint32_t off_bmi, uint32_t cb_bmi,
               uint32_t off_bits, uint32_t cb_bits,
               const DibOptions& options = {}) {
  std::optional<DibInfo> found =
      ReadDibInfo(rec, off_bmi, cb_bmi, off_bits, cb_bits, options.band);
  if (!found) return {};
  const DibInfo& info = *found;
  const auto width = static_cast<int>(info.width);
  const auto height = static_cast<int>(std::abs(info.height));
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) RaisePictureError(platform::kErrOutOfMemory);
  const size_t entry = info.header_bytes == 12 ? 3 : 4;
  const size_t palette_at = off_bmi + info.header_bytes;
  std::array<QRgb, 256> palette{};
  size_t colours = info.colours;
  for (size_t i = 0; i < colours; ++i) {
    size_t at = palette_at + i * entry;
    palette[i] = qRgb(rec.U8(at + 2), rec.U8(at + 1), rec.U8(at));
  }
  if (options.two_colours && info.bits == 1) {
    palette[0] = (*options.two_colours)[0];
    palette[1] = (*options.two_colours)[1];
    colours = 2;
  }
  if (info.compression == kBiRle8 || info.compression == kBiRle4) {
    DecodeRuns(rec, off_bits, cb_bits, info.bits, palette, colours, &image);
    return image;
  }
  const bool alpha = options.alpha && info.bits == 32;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (info.bits == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  if (info.compression == kBiBitfields) {
    // After a 40-byte header, or inside a larger one.
    const size_t at = off_bmi + 40;
    for (int i = 0; i < 3; ++i) masks[i] = rec.U32(at + 4 * size_t(i));
  }
  std::pair<int, int> shapes[3] = {MaskShape(masks[0]), MaskShape(masks[1]),
                                   MaskShape(masks[2])};
  const size_t stride =
      static_cast<size_t>((info.width * info.bits + 31) / 32 * 4);
  for (int y = 0; y < height; ++y) {
    // Bottom-up rows, like every DIB that states a positive height.
    const int row = info.height > 0 ? height - 1 - y : y;
    const size_t at = off_bits + static_cast<size_t>(row) * stride;
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x) {
      QRgb p = 0;
      switch (info.bits) {
        case 1:
        case 4:
        case 8: {
          const size_t bit = static_cast<size_t>(x) * info.bits;
          const uint8_t byte = rec.U8(at + bit / 8);
          const int shift = 8 - info.bits - static_cast<int>(bit % 8);
          const size_t index = (byte >> shift) & ((1u << info.bits) - 1);
          p = index < colours ? palette[index] : qRgb(0, 0, 0);
          break;
        }
        case 24: {
          const size_t a = at + static_cast<size_t>(x) * 3;
          p = qRgb(rec.U8(a + 2), rec.U8(a + 1), rec.U8(a));
          break;
        }
        default: {  // 16 and 32 bits, through masks
          const uint32_t v = info.bits == 16
                                 ? rec.U16(at + static_cast<size_t>(x) * 2)
                                 : rec.U32(at + static_cast<size_t>(x) * 4);
          uint8_t c[3];
          for (int i = 0; i < 3; ++i) {
            c[i] = Expand((v & masks[i]) >> shapes[i].first, shapes[i].second);
          }
          if (alpha) {
            // A colour brighter than its alpha is not premultiplied data;
            // held to the alpha, blending cannot overflow.
            const uint8_t a = static_cast<uint8_t>(v >> 24);
            p = qRgba(std::min(c[0], a), std::min(c[1], a), std::min(c[2], a),
                      a);
          } else {
            p = qRgb(c[0], c[1], c[2]);
          }
          break;
        }
      }
      out[x] = p;
    }
  }
  return image;
}

// The bitmap fields of a record that carries one, or nothing.
struct DibFields {
  uint32_t off_bmi;
  uint32_t cb_bmi;
  uint32_t off_bits;
  uint32_t cb_bits;
};

std::optional<DibFields> DibFieldsOf(const Reader& rec, uint32_t type) {
  size_t at = 0;
  switch (type) {
    case kStretchDiBits:
    case kSetDiBitsToDevice:
      at = 48;
      break;
    case kBitBlt:
    case kStretchBlt:
    case kMaskBlt:
    case kAlphaBlend:
    case kTransparentBlt:
      at = 84;
      break;
    case kCreateMonoBrush:
    case kCreateDibPatternBrushPt:
      at = 16;  // after the handle and the colour usage
      break;
    case kExtCreatePen:
      at = 12;
      break;
    default:
      return std::nullopt;
  }
  if (!rec.Has(at, 16)) return std::nullopt;
  return DibFields{rec.U32(at), rec.U32(at + 4), rec.U32(at + 8),
                   rec.U32(at + 12)};
}

// A MaskBlt's mask, a 1-bit bitmap, or nothing.
std::optional<DibFields> MaskFieldsOf(const Reader& rec, uint32_t type) {
  constexpr size_t kAt = 112;
  if (type != kMaskBlt || !rec.Has(kAt, 16)) return std::nullopt;
  return DibFields{rec.U32(kAt), rec.U32(kAt + 4), rec.U32(kAt + 8),
                   rec.U32(kAt + 12)};
}

struct Header {
  RectL bounds;
  RectL frame;
  int64_t device_cx = 0;
  int64_t device_cy = 0;
  int64_t mm_cx = 0;
  int64_t mm_cy = 0;
  uint32_t handles = 0;
};

Header ReadHeader(std::span<const uint8_t> bytes) {
  Reader r(bytes);
  if (!r.Has(0, kHeaderMinBytes) || r.U32(0) != kHeader ||
      r.U32(4) < kHeaderMinBytes || r.U32(4) > bytes.size()) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  Header h;
  h.bounds = ReadRect(r, 8);
  h.frame = ReadRect(r, 24);
  h.handles = r.U16(56);
  h.device_cx = r.I32(72);
  h.device_cy = r.I32(76);
  h.mm_cx = r.I32(80);
  h.mm_cy = r.I32(84);
  return h;
}

// The reference device's pixels per millimetre.
double PxPerMm(int64_t device, int64_t mm) {
  return device > 0 && mm > 0
             ? static_cast<double>(device) / static_cast<double>(mm)
             : kDefaultPxPerMm;
}

bool FrameUsable(const RectL& frame) {
  return frame.right > frame.left && frame.bottom > frame.top;
}

// The picture's frame in reference device pixels.
QRectF DeviceFrame(const Header& h) {
  if (FrameUsable(h.frame)) {
    const double sx = PxPerMm(h.device_cx, h.mm_cx) / 100;
    const double sy = PxPerMm(h.device_cy, h.mm_cy) / 100;
    return QRectF(QPointF(h.frame.left * sx, h.frame.top * sy),
                  QPointF(h.frame.right * sx, h.frame.bottom * sy));
  }
  return QRectF(QPointF(h.bounds.left, h.bounds.top),
                QPointF(static_cast<double>(h.bounds.right) + 1,
                        static_cast<double>(h.bounds.bottom) + 1));
}

struct Font {
  FontRequest request;
  double height = 0;  // logical units; negative: em height, positive: cell
  double escapement_deg = 0;
};

struct GdiObject {
  enum class Kind { kNone, kPen, kBrush, kFont } kind = Kind::kNone;
  QPen pen;
  QBrush brush;
  Font font;
};

// What a saved state keeps beyond what QPainter saves (clip).
struct State {
  QTransform world;
  int map_mode = kMmText;
  QPointF window_org{0, 0};
  QSizeF window_ext{1, 1};
  QPointF viewport_org{0, 0};
  QSizeF viewport_ext{1, 1};
  QPen pen{QColor(0, 0, 0), 0};
  QBrush brush{QColor(255, 255, 255)};
  Font font;
  QColor text_color{0, 0, 0};
  QColor bk_color{255, 255, 255};
  bool bk_opaque = true;
  uint32_t text_align = 0;
  Qt::FillRule fill_rule = Qt::OddEvenFill;
  bool clockwise = false;
  QPointF current{0, 0};
};

// A comment record's data, as much of it as the record holds; the record
// holds its size.
std::span<const uint8_t> CommentData(const Reader& r) {
  return r.bytes().subspan(12, std::min<size_t>(r.U32(8), r.size() - 12));
}

bool Finite(double v) { return std::isfinite(v) && std::abs(v) < 1e12; }

class Player {
 public:
  Player(const Header& header, QImage* image, const Deadline* deadline)
      : header_(header),
        painter_(image),
        emf_plus_(&painter_, &device_to_output_, deadline) {
    objects_.resize(size_t{header.handles} + 1);
    const QRectF frame = DeviceFrame(header);
    device_to_output_ = QTransform::fromTranslate(-frame.left(), -frame.top()) *
                        QTransform::fromScale(image->width() / frame.width(),
                                              image->height() / frame.height());
    px_per_mm_x_ = PxPerMm(header.device_cx, header.mm_cx);
    px_per_mm_y_ = PxPerMm(header.device_cy, header.mm_cy);
    painter_.setRenderHint(QPainter::Antialiasing, true);
    state_.font.request.face = u"Arial";
  }

  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  // Unwinds the states the picture saved and did not restore, which a
  // painter would complain of.
  ~Player() {
    for (; !saved_.empty(); saved_.pop_back()) painter_.restore();
  }

  // Plays one record; returns false at the end of the picture.
  bool Play(const Reader& rec, uint32_t type);
  // Raises 481 when an EMF+ picture could not be drawn.
  void Finish() const { emf_plus_.Finish(); }

 private:
  QTransform Page() const;
  void ApplyTransform() {
    painter_.setTransform(state_.world * Page() * device_to_output_);
  }
  QPointF Pt(const Reader& r, size_t at) const {
    return {static_cast<double>(r.I32(at)), static_cast<double>(r.I32(at + 4))};
  }
  QPointF Pt16(const Reader& r, size_t at) const {
    return {static_cast<double>(r.I16(at)), static_cast<double>(r.I16(at + 2))};
  }
  std::vector<QPointF> Points(const Reader& r, size_t count_at, size_t at,
                              bool small) const;
  void Emit(const QPainterPath& figure, bool closed);
  // Whether `path`, drawn, reaches far beyond the picture.
  bool FarOutside(const QPainterPath& path, double margin_px) const;
  // The picture's own area on the output, widened by `margin_px`.
  QPainterPath OutputArea(double margin_px) const;
  void StrokeWith(const QPainterPath& path);
  void FillWith(const QPainterPath& path);
  // Fills `path` in the current transform, cut to the picture first when it
  // reaches far beyond it.
  void Fill(const QPainterPath& path, const QBrush& brush);
  QPainterPath& PathForContinuation();
  void Poly(const Reader& r, uint32_t type);
  void PolyPoly(const Reader& r, bool small, bool closed);
  void ArcShape(const Reader& r, uint32_t type);
  void Text(const Reader& r, bool wide);
  void Bitmap(const Reader& r, uint32_t type);
  // Keeps of `image` only the pixels of `source` that a MaskBlt's mask and
  // operations `rop4` draw from; false when it draws them otherwise.
  static bool MaskOut(const Reader& r, uint32_t rop4, const QRectF& source,
                      QImage* image);
  // Returns the area drawn into, in the current transform.
  QPainterPath CurrentClip() const;
  void SelectObject(uint32_t index);
  void CreatePen(const Reader& r, bool extended);
  // Makes the brush of a CreateBrushIndirect, CreateMonoBrush or
  // CreateDIBPatternBrushPt record.
  void CreateBrush(const Reader& r, uint32_t type);
  void CreateFont(const Reader& r);
  void ClipRegion(const Reader& r);
  void Save();
  void Restore(int32_t relative);
  GdiObject* Object(uint32_t index) {
    return index > 0 && index < objects_.size() ? &objects_[index] : nullptr;
  }

  const Header header_;
  QPainter painter_;
  QTransform device_to_output_;
  EmfPlus emf_plus_;
  double px_per_mm_x_ = kDefaultPxPerMm;
  double px_per_mm_y_ = kDefaultPxPerMm;
  State state_;
  std::vector<State> saved_;
  std::vector<GdiObject> objects_;
  bool in_path_ = false;
  QPainterPath path_;
  OutlineFonts fonts_;
};

QTransform Player::Page() const {
  double sx = 1;
  double sy = 1;
  switch (state_.map_mode) {
    case kMmLoMetric:
      sx = px_per_mm_x_ / 10;
      sy = -px_per_mm_y_ / 10;
      break;
    case kMmHiMetric:
      sx = px_per_mm_x_ / 100;
      sy = -px_per_mm_y_ / 100;
      break;
    case kMmLoEnglish:
      sx = px_per_mm_x_ * kMmPerInch / 100;
      sy = -px_per_mm_y_ * kMmPerInch / 100;
      break;
    case kMmHiEnglish:
      sx = px_per_mm_x_ * kMmPerInch / 1000;
      sy = -px_per_mm_y_ * kMmPerInch / 1000;
      break;
    case kMmTwips:
      sx = px_per_mm_x_ * kMmPerInch / 1440;
      sy = -px_per_mm_y_ * kMmPerInch / 1440;
      break;
    case kMmIsotropic:
    case kMmAnisotropic:
      if (state_.window_ext.width() != 0 && state_.window_ext.height() != 0) {
        sx = state_.viewport_ext.width() / state_.window_ext.width();
        sy = state_.viewport_ext.height() / state_.window_ext.height();
      }
      if (state_.map_mode == kMmIsotropic) {
        const double s = std::min(std::abs(sx), std::abs(sy));
        sx = std::copysign(s, sx);
        sy = std::copysign(s, sy);
      }
      break;
    default:
      break;
  }
  return QTransform::fromTranslate(-state_.window_org.x(),
                                   -state_.window_org.y()) *
         QTransform::fromScale(sx, sy) *
         QTransform::fromTranslate(state_.viewport_org.x(),
                                   state_.viewport_org.y());
}

std::vector<QPointF> Player::Points(const Reader& r, size_t count_at, size_t at,
                                    bool small) const {
  std::vector<QPointF> points;
  if (!r.Has(count_at, 4)) return points;
  const uint32_t count = r.U32(count_at);
  const size_t each = small ? 4 : 8;
  if (count == 0 || !r.Has(at, 0) || count > (r.size() - at) / each) {
    return points;
  }
  points.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    points.push_back(small ? Pt16(r, at + i * each) : Pt(r, at + i * each));
  }
  return points;
}

bool Player::FarOutside(const QPainterPath& path, double margin_px) const {
  const QRectF bounds = painter_.transform().mapRect(path.controlPointRect());
  const double w = painter_.device()->width();
  const double h = painter_.device()->height();
  const double reach = kFarOutsideSides * std::max(w, h) + margin_px;
  return !QRectF(-reach, -reach, w + 2 * reach, h + 2 * reach).contains(bounds);
}

QPainterPath Player::OutputArea(double margin_px) const {
  QPainterPath area;
  area.addRect(QRectF(-margin_px, -margin_px,
                      painter_.device()->width() + 2 * margin_px,
                      painter_.device()->height() + 2 * margin_px));
  return area;
}

void Player::StrokeWith(const QPainterPath& path) {
  if (state_.pen.style() == Qt::NoPen) return;
  QPen pen = state_.pen;
  // A line never thinner than an output pixel, as a screen draws it.
  const QTransform t = painter_.transform();
  const double scale = std::sqrt(std::abs(t.determinant()));
  if (pen.widthF() * scale < 1) pen.setWidthF(0);
  const double width_px = std::max(1.0, pen.widthF() * scale);
  if (!FarOutside(path, width_px)) {
    painter_.strokePath(path, pen);
    return;
  }
  // Qt's rasteriser can spend minutes on coordinates far beyond the
  // picture: the line's outline is made on the output and cut to it, dashes
  // left out (millions of them would be made for nothing).
  QPainterPathStroker stroker;
  stroker.setWidth(width_px);
  stroker.setCapStyle(pen.capStyle());
  stroker.setJoinStyle(pen.joinStyle());
  const QPainterPath outline =
      stroker.createStroke(t.map(path)).intersected(OutputArea(width_px));
  painter_.save();
  painter_.resetTransform();
  painter_.fillPath(outline, pen.brush());
  painter_.restore();
}

void Player::FillWith(const QPainterPath& path) {
  if (state_.brush.style() == Qt::NoBrush) return;
  QPainterPath filled = path;
  filled.setFillRule(state_.fill_rule);
  Fill(filled, state_.brush);
}

void Player::Fill(const QPainterPath& path, const QBrush& brush) {
  if (!FarOutside(path, 0)) {
    painter_.fillPath(path, brush);
    return;
  }
  // As for lines: the shape cut to the output first.
  const QTransform t = painter_.transform();
  const QPainterPath cut = t.map(path).intersected(OutputArea(1));
  painter_.save();
  painter_.resetTransform();
  // A pattern keeps its place on the page.
  QBrush placed = brush;
  placed.setTransform(brush.transform() * t);
  painter_.fillPath(cut, placed);
  painter_.restore();
}

void Player::Emit(const QPainterPath& figure, bool closed) {
  if (in_path_) {
    path_.addPath(figure);
    return;
  }
  ApplyTransform();
  if (closed) FillWith(figure);
  StrokeWith(figure);
}

QPainterPath& Player::PathForContinuation() {
  if (path_.elementCount() == 0 || path_.currentPosition() != state_.current) {
    path_.moveTo(state_.current);
  }
  return path_;
}

void Player::Poly(const Reader& r, uint32_t type) {
  const bool small = type >= kPolyBezier16;
  std::vector<QPointF> pts = Points(r, 24, 28, small);
  if (pts.empty()) return;
  const uint32_t kind = small ? type - kPolyBezier16 + kPolyBezier : type;
  QPainterPath figure;
  switch (kind) {
    case kPolygon:
    case kPolyline:
      figure.moveTo(pts[0]);
      for (size_t i = 1; i < pts.size(); ++i) figure.lineTo(pts[i]);
      if (kind == kPolygon) figure.closeSubpath();
      Emit(figure, kind == kPolygon);
      return;
    case kPolyBezier:
      figure.moveTo(pts[0]);
      for (size_t i = 1; i + 2 < pts.size(); i += 3) {
        figure.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
      }
      Emit(figure, false);
      return;
    case kPolylineTo:
    case kPolyBezierTo: {
      QPainterPath local;
      QPainterPath& target = in_path_ ? PathForContinuation() : local;
      if (!in_path_) local.moveTo(state_.current);
      if (kind == kPolylineTo) {
        for (const QPointF& p : pts) target.lineTo(p);
        state_.current = pts.back();
      } else {
        size_t i = 0;
        for (; i + 2 < pts.size(); i += 3) {
          target.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        }
        if (i > 0) state_.current = pts[i - 1];
      }
      if (!in_path_) {
        ApplyTransform();
        StrokeWith(local);
      }
      return;
    }
    default:
      return;
  }
}

void Player::PolyPoly(const Reader& r, bool small, bool closed) {
  if (!r.Has(24, 8)) return;
  const uint32_t polys = r.U32(24);
  const uint32_t total = r.U32(28);
  const size_t each = small ? 4 : 8;
  const size_t counts_at = 32;
  if (polys == 0 || polys > (r.size() - counts_at) / 4) return;
  const size_t points_at = counts_at + size_t{polys} * 4;
  if (total > (r.size() - points_at) / each) return;
  QPainterPath figure;
  size_t at = points_at;
  uint64_t used = 0;
  for (uint32_t k = 0; k < polys; ++k) {
    const uint32_t n = r.U32(counts_at + size_t{k} * 4);
    used += n;
    if (used > total) return;
    for (uint32_t i = 0; i < n; ++i, at += each) {
      QPointF p = small ? Pt16(r, at) : Pt(r, at);
      if (i == 0) {
        figure.moveTo(p);
      } else {
        figure.lineTo(p);
      }
    }
    if (closed && n > 0) figure.closeSubpath();
  }
  Emit(figure, closed);
}

void Player::ArcShape(const Reader& r, uint32_t type) {
  const QRectF box = ToRectF(ReadRect(r, 8));
  if (box.isEmpty()) return;
  const QPointF c = box.center();
  const double rx = box.width() / 2;
  const double ry = box.height() / 2;
  // The ends lie where the lines from the centre through the two points
  // cross the ellipse: turned into Qt's angles (counter-clockwise, y up).
  auto angle = [&](QPointF p) {
    return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180 / M_PI;
  };
  const double start = angle(Pt(r, 24));
  const double end = angle(Pt(r, 32));
  double sweep = end - start;
  if (state_.clockwise) {
    while (sweep >= 0) sweep -= 360;
  } else {
    while (sweep <= 0) sweep += 360;
  }
  QPainterPath figure;
  figure.arcMoveTo(box, start);
  if (type == kPie) {
    figure.moveTo(c);
    figure.arcTo(box, start, sweep);
    figure.closeSubpath();
  } else if (type == kArcTo) {
    QPainterPath& target = in_path_ ? PathForContinuation() : figure;
    if (!in_path_) figure.moveTo(state_.current);
    target.arcTo(box, start, sweep);
    state_.current = target.currentPosition();
    if (!in_path_) {
      ApplyTransform();
      StrokeWith(figure);
    }
    return;
  } else {
    figure.arcTo(box, start, sweep);
    if (type == kChord) figure.closeSubpath();
  }
  Emit(figure, type != kArc);
}

void Player::SelectObject(uint32_t index) {
  if (index & kStockObject) {
    switch (index & ~kStockObject) {
      case kWhiteBrush:
        state_.brush = QBrush(QColor(255, 255, 255));
        break;
      case kLtGrayBrush:
        state_.brush = QBrush(QColor(192, 192, 192));
        break;
      case kGrayBrush:
        state_.brush = QBrush(QColor(128, 128, 128));
        break;
      case kDkGrayBrush:
        state_.brush = QBrush(QColor(64, 64, 64));
        break;
      case kBlackBrush:
      case kDcBrush:
        state_.brush = QBrush(QColor(0, 0, 0));
        break;
      case kNullBrush:
        state_.brush = QBrush(Qt::NoBrush);
        break;
      case kWhitePen:
        state_.pen = QPen(QColor(255, 255, 255), 0);
        break;
      case kBlackPen:
      case kDcPen:
        state_.pen = QPen(QColor(0, 0, 0), 0);
        break;
      case kNullPen:
        state_.pen = QPen(Qt::NoPen);
        break;
      case kOemFixedFont:
      case kAnsiFixedFont:
      case kAnsiVarFont:
      case kSystemFont:
      case kDeviceDefaultFont:
      case kSystemFixedFont:
      case kDefaultGuiFont: {
        const uint32_t stock = index & ~kStockObject;
        state_.font = Font();
        state_.font.request.face = u"Arial";
        state_.font.request.fixed_pitch = stock == kOemFixedFont ||
                                          stock == kAnsiFixedFont ||
                                          stock == kSystemFixedFont;
        break;
      }
      default:
        break;
    }
    return;
  }
  const GdiObject* object = Object(index);
  if (object == nullptr) return;
  switch (object->kind) {
    case GdiObject::Kind::kPen:
      state_.pen = object->pen;
      break;
    case GdiObject::Kind::kBrush:
      state_.brush = object->brush;
      break;
    case GdiObject::Kind::kFont:
      state_.font = object->font;
      break;
    case GdiObject::Kind::kNone:
      break;
  }
}

void Player::CreatePen(const Reader& r, bool extended) {
  GdiObject* object = Object(r.U32(8));
  if (object == nullptr) return;
  uint32_t style = 0;
  double width = 0;
  uint32_t colour = 0;
  if (extended) {
    if (!r.Has(28, 20)) return;
    style = r.U32(28);
    width = r.U32(32);
    colour = r.U32(40);
    if (r.U32(36) == 1) style = (style & ~0xFu) | 5;  // a null brush
  } else {
    if (!r.Has(12, 16)) return;
    style = r.U32(12);
    width = r.I32(16);
    colour = r.U32(24);
  }
  QPen pen(ColorRef(colour));
  pen.setWidthF(std::abs(width));
  switch (style & 0xF) {
    case 1:
      pen.setStyle(Qt::DashLine);
      break;
    case 2:
      pen.setStyle(Qt::DotLine);
      break;
    case 3:
      pen.setStyle(Qt::DashDotLine);
      break;
    case 4:
      pen.setStyle(Qt::DashDotDotLine);
      break;
    case 5:
      pen.setStyle(Qt::NoPen);
      break;
    default:
      break;
  }
  switch (style & 0xF00) {
    case 0x100:
      pen.setCapStyle(Qt::SquareCap);
      break;
    case 0x200:
      pen.setCapStyle(Qt::FlatCap);
      break;
    default:
      pen.setCapStyle(Qt::RoundCap);
      break;
  }
  switch (style & 0xF000) {
    case 0x1000:
      pen.setJoinStyle(Qt::BevelJoin);
      break;
    case 0x2000:
      pen.setJoinStyle(Qt::MiterJoin);
      break;
    default:
      pen.setJoinStyle(Qt::RoundJoin);
      break;
  }
  *object = GdiObject{GdiObject::Kind::kPen, pen, {}, {}};
}

void Player::CreateBrush(const Reader& r, uint32_t type) {
  GdiObject* object = Object(r.U32(8));
  if (object == nullptr) return;
  QBrush brush;
  if (type != kCreateBrushIndirect) {
    std::optional<DibFields> f = DibFieldsOf(r, type);
    if (!f) return;
    DibOptions options;
    if (type == kCreateMonoBrush) {
      // Its 0 bits take the text colour and its 1 bits the background, as
      // they are when the brush is made.
      options.two_colours = {state_.text_color.rgb(), state_.bk_color.rgb()};
    }
    QImage tile =
        ReadDib(r, f->off_bmi, f->cb_bmi, f->off_bits, f->cb_bits, options);
    brush = tile.isNull() ? QBrush(QColor(128, 128, 128)) : QBrush(tile);
  } else {
    if (!r.Has(12, 12)) return;
    const uint32_t style = r.U32(12);
    const QColor colour = ColorRef(r.U32(16));
    if (style == 1) {
      brush = QBrush(Qt::NoBrush);
    } else if (style == 2) {
      static constexpr Qt::BrushStyle kHatches[] = {
          Qt::HorPattern,   Qt::VerPattern,   Qt::BDiagPattern,
          Qt::FDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
      const uint32_t hatch = r.U32(20);
      brush = QBrush(colour, hatch < 6 ? kHatches[hatch] : Qt::SolidPattern);
    } else {
      brush = QBrush(colour);
    }
  }
  *object = GdiObject{GdiObject::Kind::kBrush, {}, brush, {}};
}

void Player::CreateFont(const Reader& r) {
  GdiObject* object = Object(r.U32(8));
  // The LOGFONTW: 28 bytes of numbers, then 32 UTF-16 units of face name.
  if (object == nullptr || !r.Has(12, 92)) return;
  Font font;
  font.height = r.I32(12);
  font.escapement_deg = r.I32(20) / 10.0;
  font.request.bold = r.I32(28) >= 600;
  font.request.italic = r.U8(32) != 0;
  const uint8_t pitch_family = r.U8(39);
  font.request.fixed_pitch = (pitch_family & 3) == 1;
  font.request.roman = (pitch_family & 0xF0) == 0x10;
  for (size_t i = 0; i < 32; ++i) {
    const char16_t c = r.U16(40 + i * 2);
    if (c == 0) break;
    font.request.face += c;
  }
  *object = GdiObject{GdiObject::Kind::kFont, {}, {}, font};
}

void Player::Text(const Reader& r, bool wide) {
  if (!r.Has(36, 40)) return;
  QPointF ref = Pt(r, 36);
  const uint32_t chars = r.U32(44);
  const uint32_t off_string = r.U32(48);
  const uint32_t options = r.U32(52);
  const QRectF box = ToRectF(ReadRect(r, 56));
  const uint32_t off_dx = r.U32(72);
  const size_t unit = wide ? 2 : 1;
  if (chars == 0 || chars > r.size() || !r.Has(off_string, chars * unit)) {
    return;
  }
  std::u16string text;
  text.reserve(chars);
  for (uint32_t i = 0; i < chars; ++i) {
    text += wide ? r.U16(off_string + i * 2)
                 : static_cast<char16_t>(r.U8(off_string + i));
  }
  const Font& font = state_.font;
  double em = std::abs(font.height);
  if (font.height > 0) em = font.height / fonts_.CellPerEm(font.request);
  if (em == 0) em = kDefaultFontHeight;
  std::vector<double> advances;
  const size_t dx_step = (options & kEtoPdy) != 0 ? 8 : 4;
  if (off_dx != 0 && r.Has(off_dx, size_t{chars} * dx_step)) {
    advances.reserve(chars);
    for (uint32_t i = 0; i < chars; ++i) {
      advances.push_back(r.I32(off_dx + i * dx_step) / em);
    }
  }
  const TextOutline outline = fonts_.Layout(font.request, text, advances);
  ApplyTransform();
  if ((options & kEtoOpaque) != 0 && !box.isEmpty()) {
    painter_.fillRect(box, state_.bk_color);
  }
  if (state_.text_align & kTaUpdateCp) ref = state_.current;
  double dx = 0;
  if ((state_.text_align & kTaCenter) == kTaCenter) {
    dx = -outline.advance / 2;
  } else if (state_.text_align & kTaRight) {
    dx = -outline.advance;
  }
  double dy = outline.ascent;  // top
  if ((state_.text_align & kTaBaseline) == kTaBaseline) {
    dy = 0;
  } else if (state_.text_align & kTaBottom) {
    dy = -outline.descent;
  }
  // Glyphs stand upright on the output even where the logical y axis
  // points up.
  const bool flipped = painter_.transform().m22() < 0;
  const double y_sign = flipped ? -1 : 1;
  const QTransform place = QTransform::fromTranslate(dx, dy) *
                           QTransform::fromScale(em, em * y_sign) *
                           QTransform().rotate(-font.escapement_deg * y_sign) *
                           QTransform::fromTranslate(ref.x(), ref.y());
  if (state_.text_align & kTaUpdateCp) {
    // The next text starts where this one's pen stopped.
    state_.current = place.map(QPointF(outline.advance - dx, -dy));
  }
  painter_.save();
  if ((options & kEtoClipped) != 0 && !box.isEmpty()) {
    painter_.setClipRect(box, Qt::IntersectClip);
  }
  if (state_.bk_opaque && (options & kEtoOpaque) == 0 && outline.advance > 0) {
    QRectF cell(QPointF(0, -outline.ascent),
                QPointF(outline.advance, outline.descent));
    QPainterPath background;
    background.addRect(cell);
    Fill(place.map(background), state_.bk_color);
  }
  Fill(place.map(outline.path), state_.text_color);
  painter_.restore();
}

// Returns how a raster operation's index byte draws a bitmap's pixels, or
// nothing when they leave the destination as it is.
std::optional<QPainter::CompositionMode> BitmapMode(uint32_t rop3) {
  switch (rop3) {
    case kRop3SrcAnd:
      return QPainter::RasterOp_SourceAndDestination;
    case kRop3SrcInvert:
      return QPainter::RasterOp_SourceXorDestination;
    case kRop3SrcPaint:
      return QPainter::RasterOp_SourceOrDestination;
    case kRop3NotSrcCopy:
      return QPainter::RasterOp_NotSource;
    case kRop3DstCopy:
      return std::nullopt;
    default:
      // The copy, and operations with the brush that are drawn as one.
      return QPainter::CompositionMode_SourceOver;
  }
}

bool Player::MaskOut(const Reader& r, uint32_t rop4, const QRectF& source,
                     QImage* image) {
  // MAKEROP4: the background operation (mask bit 0) in the high byte, the
  // foreground one's index below it.
  const uint32_t fore = (rop4 >> 16) & 0xFF;
  const uint32_t back = rop4 >> 24;
  const bool copy_on_set = fore == kRop3SrcCopy && back == kRop3DstCopy;
  const bool copy_on_clear = fore == kRop3DstCopy && back == kRop3SrcCopy;
  std::optional<DibFields> f = MaskFieldsOf(r, kMaskBlt);
  if (!f || f->cb_bmi == 0 || (!copy_on_set && !copy_on_clear)) return false;
  DibOptions options;
  options.two_colours = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
  const QImage mask =
      ReadDib(r, f->off_bmi, f->cb_bmi, f->off_bits, f->cb_bits, options);
  if (mask.isNull()) return false;
  const QRect area = source.toAlignedRect().intersected(image->rect());
  // The mask's pixel for the source's first one.
  const int64_t mask_dx = int64_t{r.I32(100)} - area.left();
  const int64_t mask_dy = int64_t{r.I32(104)} - area.top();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image->scanLine(y));
    const int64_t my = y + mask_dy;
    for (int x = area.left(); x <= area.right(); ++x) {
      const int64_t mx = x + mask_dx;
      const bool set =
          mx >= 0 && my >= 0 && mx < mask.width() && my < mask.height() &&
          qRed(mask.pixel(static_cast<int>(mx), static_cast<int>(my))) != 0;
      if (set != copy_on_set) row[x] = 0;
    }
  }
  return true;
}

void Player::Bitmap(const Reader& r, uint32_t type) {
  QRectF dest;
  QRectF source;
  uint32_t op = 0;
  switch (type) {
    case kStretchDiBits:
      if (!r.Has(0, 80)) return;
      dest = QRectF(r.I32(24), r.I32(28), r.I32(72), r.I32(76));
      source = QRectF(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
      op = r.U32(68);
      break;
    case kSetDiBitsToDevice:
      // Drawn unscaled, when its bits hold the whole bitmap; a band of
      // its scan lines is skipped.
      if (!r.Has(0, 76)) return;
      source = QRectF(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
      dest = QRectF(QPointF(r.I32(24), r.I32(28)), source.size());
      op = kRop3SrcCopy << 16;
      break;
    default:  // BitBlt and its kin, which share its first 100 bytes
      if (!r.Has(0, 100)) return;
      dest = QRectF(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
      op = r.U32(40);
      source = QRectF(r.I32(44), r.I32(48), dest.width(), dest.height());
      if (type != kBitBlt && type != kMaskBlt && r.Has(100, 8)) {
        source.setSize(QSizeF(r.I32(100), r.I32(104)));
      }
      break;
  }
  ApplyTransform();
  std::optional<DibFields> f = DibFieldsOf(r, type);
  DibOptions options;
  // The blend function: operation, flags, constant alpha, alpha format.
  const uint32_t constant_alpha = (op >> 16) & 0xFF;
  options.alpha = type == kAlphaBlend && ((op >> 24) & kAcSrcAlpha) != 0;
  options.band = type == kSetDiBitsToDevice;
  QImage image;
  if (f) {
    image = ReadDib(r, f->off_bmi, f->cb_bmi, f->off_bits, f->cb_bits, options);
  }
  if (image.isNull()) {
    if (f && f->cb_bmi != 0) return;  // a bitmap of a kind not drawn here
    // No source: the operation paints the destination alone.
    if (op == kPatCopy) painter_.fillRect(dest.normalized(), state_.brush);
    if (op == kBlackness) painter_.fillRect(dest.normalized(), Qt::black);
    if (op == kWhiteness) painter_.fillRect(dest.normalized(), Qt::white);
    return;
  }
  if ((type == kStretchDiBits || type == kSetDiBitsToDevice) &&
      source.height() > 0) {
    // Its source rectangle counts rows from the bottom of the bitmap.
    source.moveTop(image.height() - source.top() - source.height());
  }
  std::optional<QPainter::CompositionMode> mode =
      QPainter::CompositionMode_SourceOver;
  double opacity = 1;
  if (type == kAlphaBlend) {
    opacity = constant_alpha / 255.0;
  } else if (type == kTransparentBlt) {
    const QRgb transparent = ColorRef(op).rgb();
    for (int y = 0; y < image.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x) {
        if (row[x] == transparent) row[x] = 0;
      }
    }
  } else if (type != kMaskBlt || !MaskOut(r, op, source, &image)) {
    mode = BitmapMode((op >> 16) & 0xFF);
  }
  if (!mode || opacity <= 0) return;
  const bool mirror_x = dest.width() < 0;
  const bool mirror_y = dest.height() < 0;
  if (mirror_x || mirror_y) {
    image = image.mirrored(mirror_x, mirror_y);
    if (mirror_x) source.moveLeft(image.width() - source.right());
    if (mirror_y) source.moveTop(image.height() - source.bottom());
  }
  source = source.normalized().intersected(QRectF(image.rect()));
  if (source.isEmpty()) return;
  // Reduced, a bitmap's pixels are averaged; enlarged, each stays a
  // square, as a screen stretches it. Combined with what lies below, each
  // output pixel takes one bitmap pixel, so that an icon's mask and colours
  // meet exactly.
  const bool raster_op = *mode != QPainter::CompositionMode_SourceOver;
  const QRectF drawn = painter_.transform().mapRect(dest.normalized());
  painter_.save();
  painter_.setCompositionMode(*mode);
  painter_.setOpacity(opacity);
  painter_.setRenderHint(QPainter::Antialiasing, !raster_op);
  painter_.setRenderHint(QPainter::SmoothPixmapTransform,
                         !raster_op && (drawn.width() < source.width() ||
                                        drawn.height() < source.height()));
  painter_.drawImage(dest.normalized(), image, source);
  painter_.restore();
}

void Player::ClipRegion(const Reader& r) {
  if (!r.Has(8, 8)) return;
  const uint32_t bytes = r.U32(8);
  const uint32_t mode = r.U32(12);
  if (bytes < 32 || !r.Has(16, bytes)) {
    if (mode == kRgnCopy) painter_.setClipping(false);
    return;
  }
  const uint32_t count = r.U32(24);
  if (count > (bytes - 32) / 16) return;
  QPainterPath region;
  for (uint32_t i = 0; i < count; ++i) {
    region.addRect(ToRectF(ReadRect(r, 48 + size_t{i} * 16)));
  }
  // The rectangles are in device units.
  painter_.setTransform(device_to_output_);
  const QPainterPath current = CurrentClip();
  switch (mode) {
    case kRgnAnd:
      painter_.setClipPath(region, Qt::IntersectClip);
      break;
    case kRgnOr:
      painter_.setClipPath(current.united(region), Qt::ReplaceClip);
      break;
    case kRgnDiff:
      painter_.setClipPath(current.subtracted(region), Qt::ReplaceClip);
      break;
    case kRgnCopy:
      painter_.setClipPath(region, Qt::ReplaceClip);
      break;
    default:
      break;
  }
}

QPainterPath Player::CurrentClip() const {
  if (painter_.hasClipping()) return painter_.clipPath();
  QPainterPath all;
  all.addRect(painter_.transform().inverted().mapRect(
      QRectF(0, 0, painter_.device()->width(), painter_.device()->height())));
  return all;
}

void Player::Save() {
  if (saved_.size() >= kMaxSavedStates) return;
  saved_.push_back(state_);
  painter_.save();
}

void Player::Restore(int32_t relative) {
  int64_t levels = relative < 0
                       ? -int64_t{relative}
                       : static_cast<int64_t>(saved_.size()) - relative + 1;
  if (levels <= 0 || levels > static_cast<int64_t>(saved_.size())) return;
  for (; levels > 0; --levels) {
    state_ = saved_.back();
    saved_.pop_back();
    painter_.restore();
  }
}

bool Player::Play(const Reader& r, uint32_t type) {
  auto has = [&](size_t n) { return r.Has(8, n); };
  if (type == kComment && has(4)) {
    const std::span<const uint8_t> data = CommentData(r);
    if (EmfPlus::IsEmfPlus(data)) emf_plus_.Play(data);
    return true;
  }
  // An EMF+ picture draws with EMF records only between GetDC and the next
  // EMF+ record.
  if (type != kEof && emf_plus_.DrawsPicture()) return true;
  switch (type) {
    case kEof:
      return false;
    case kPolyBezier:
    case kPolygon:
    case kPolyline:
    case kPolyBezierTo:
    case kPolylineTo:
    case kPolyBezier16:
    case kPolygon16:
    case kPolyline16:
    case kPolyBezierTo16:
    case kPolylineTo16:
      Poly(r, type);
      break;
    case kPolyPolyline:
    case kPolyPolyline16:
      PolyPoly(r, type == kPolyPolyline16, false);
      break;
    case kPolyPolygon:
    case kPolyPolygon16:
      PolyPoly(r, type == kPolyPolygon16, true);
      break;
    case kSetWindowExtEx:
      if (has(8)) state_.window_ext = QSizeF(r.I32(8), r.I32(12));
      break;
    case kSetWindowOrgEx:
      if (has(8)) state_.window_org = Pt(r, 8);
      break;
    case kSetViewportExtEx:
      if (has(8)) state_.viewport_ext = QSizeF(r.I32(8), r.I32(12));
      break;
    case kSetViewportOrgEx:
      if (has(8)) state_.viewport_org = Pt(r, 8);
      break;
    case kScaleViewportExtEx:
    case kScaleWindowExtEx:
      if (has(16) && r.I32(12) != 0 && r.I32(20) != 0) {
        QSizeF& ext = type == kScaleViewportExtEx ? state_.viewport_ext
                                                  : state_.window_ext;
        ext = QSizeF(ext.width() * r.I32(8) / r.I32(12),
                     ext.height() * r.I32(16) / r.I32(20));
      }
      break;
    case kSetMapMode:
      if (has(4)) state_.map_mode = r.I32(8);
      break;
    case kSetBkMode:
      if (has(4)) state_.bk_opaque = r.U32(8) == 2;
      break;
    case kSetPolyFillMode:
      if (has(4)) {
        state_.fill_rule = r.U32(8) == 2 ? Qt::WindingFill : Qt::OddEvenFill;
      }
      break;
    case kSetTextAlign:
      if (has(4)) state_.text_align = r.U32(8);
      break;
    case kSetTextColor:
      if (has(4)) state_.text_color = ColorRef(r.U32(8));
      break;
    case kSetBkColor:
      if (has(4)) state_.bk_color = ColorRef(r.U32(8));
      break;
    case kSetArcDirection:
      if (has(4)) state_.clockwise = r.U32(8) == 2;
      break;
    case kMoveToEx:
      if (has(8)) {
        state_.current = Pt(r, 8);
        if (in_path_) path_.moveTo(state_.current);
      }
      break;
    case kLineTo:
      if (has(8)) {
        const QPointF to = Pt(r, 8);
        if (in_path_) {
          PathForContinuation().lineTo(to);
        } else {
          QPainterPath line(state_.current);
          line.lineTo(to);
          ApplyTransform();
          StrokeWith(line);
        }
        state_.current = to;
      }
      break;
    case kIntersectClipRect:
      if (has(16)) {
        ApplyTransform();
        painter_.setClipRect(ToRectF(ReadRect(r, 8)), Qt::IntersectClip);
      }
      break;
    case kExcludeClipRect:
      if (has(16)) {
        ApplyTransform();
        QPainterPath excluded;
        excluded.addRect(ToRectF(ReadRect(r, 8)));
        painter_.setClipPath(CurrentClip().subtracted(excluded),
                             Qt::ReplaceClip);
      }
      break;
    case kExtSelectClipRgn:
      ClipRegion(r);
      break;
    case kSelectClipPath:
      if (has(4) && !path_.isEmpty()) {
        ApplyTransform();
        const uint32_t mode = r.U32(8);
        QPainterPath clip = path_;
        clip.setFillRule(state_.fill_rule);
        painter_.setClipPath(
            clip, mode == kRgnCopy ? Qt::ReplaceClip : Qt::IntersectClip);
        path_ = QPainterPath();
      }
      break;
    case kSaveDc:
      Save();
      break;
    case kRestoreDc:
      if (has(4)) Restore(r.I32(8));
      break;
    case kSetWorldTransform:
    case kModifyWorldTransform: {
      if (!has(24)) break;
      double m[6];
      for (int i = 0; i < 6; ++i) m[i] = r.F32(8 + 4 * size_t(i));
      if (!std::all_of(m, m + 6, Finite)) break;
      const QTransform x(m[0], m[1], m[2], m[3], m[4], m[5]);
      const uint32_t mode =
          type == kSetWorldTransform ? kMwtSet : (has(28) ? r.U32(32) : 0);
      if (mode == kMwtIdentity) state_.world = QTransform();
      if (mode == kMwtLeftMultiply) state_.world = x * state_.world;
      if (mode == kMwtRightMultiply) state_.world = state_.world * x;
      if (mode == kMwtSet) state_.world = x;
      break;
    }
    case kSelectObject:
      if (has(4)) SelectObject(r.U32(8));
      break;
    case kCreatePen:
      CreatePen(r, false);
      break;
    case kExtCreatePen:
      CreatePen(r, true);
      break;
    case kCreateBrushIndirect:
    case kCreateMonoBrush:
    case kCreateDibPatternBrushPt:
      CreateBrush(r, type);
      break;
    case kExtCreateFontIndirectW:
      CreateFont(r);
      break;
    case kDeleteObject:
      if (has(4)) {
        if (GdiObject* object = Object(r.U32(8))) *object = GdiObject();
      }
      break;
    case kEllipse:
    case kRectangle:
    case kRoundRect:
      if (has(16)) {
        const QRectF box = ToRectF(ReadRect(r, 8));
        QPainterPath figure;
        if (type == kEllipse) {
          figure.addEllipse(box);
        } else if (type == kRoundRect && has(24)) {
          figure.addRoundedRect(box, std::abs(r.I32(24)) / 2.0,
                                std::abs(r.I32(28)) / 2.0);
        } else {
          figure.addRect(box);
        }
        Emit(figure, true);
      }
      break;
    case kArc:
    case kChord:
    case kPie:
    case kArcTo:
      if (has(32)) ArcShape(r, type);
      break;
    case kAngleArc:
      if (has(16)) {
        const QPointF c = Pt(r, 8);
        const double radius = r.U32(16);
        const double start = r.F32(20);
        const double sweep = r.F32(24);
        if (!Finite(start) || !Finite(sweep) || radius > 1e9) break;
        const QRectF box(c.x() - radius, c.y() - radius, 2 * radius,
                         2 * radius);
        QPainterPath figure(state_.current);
        figure.arcTo(box, start, sweep);
        state_.current = figure.currentPosition();
        Emit(figure, false);
      }
      break;
    case kBeginPath:
      in_path_ = true;
      path_ = QPainterPath();
      break;
    case kEndPath:
      in_path_ = false;
      break;
    case kCloseFigure:
      if (in_path_) path_.closeSubpath();
      break;
    case kAbortPath:
      in_path_ = false;
      path_ = QPainterPath();
      break;
    case kFillPath:
    case kStrokePath:
    case kStrokeAndFillPath:
      if (!in_path_) {
        ApplyTransform();
        if (type != kStrokePath) FillWith(path_);
        if (type != kFillPath) StrokeWith(path_);
        path_ = QPainterPath();
      }
      break;
    case kExtTextOutW:
    case kExtTextOutA:
      Text(r, type == kExtTextOutW);
      break;
    case kBitBlt:
    case kStretchBlt:
    case kMaskBlt:
    case kAlphaBlend:
    case kTransparentBlt:
    case kSetDiBitsToDevice:
    case kStretchDiBits:
      Bitmap(r, type);
      break;
    default:
      break;  // records that change nothing drawn here
  }
  return true;
}

}  // namespace

EmfLayout ScanEmf(std::span<const uint8_t> bytes) {
  const Header header = ReadHeader(bytes);
  EmfLayout layout;
  if (FrameUsable(header.frame)) {
    const double to_px = kMetafileDotsPerInch / (kMmPerInch * 100);
    layout.width = std::llround(
        static_cast<double>(int64_t{header.frame.right} - header.frame.left) *
        to_px);
    layout.height = std::llround(
        static_cast<double>(int64_t{header.frame.bottom} - header.frame.top) *
        to_px);
  } else {
    layout.width = int64_t{header.bounds.right} - header.bounds.left + 1;
    layout.height = int64_t{header.bounds.bottom} - header.bounds.top + 1;
  }
  CheckPictureSize(layout.width, layout.height);
  size_t at = 0;
  bool ended = false;
  while (!ended && bytes.size() - at >= 8) {
    Reader head(bytes.subspan(at, 8));
    const uint32_t type = head.U32(0);
    const uint32_t size = head.U32(4);
    if (size < 8 || size > bytes.size() - at ||
        ++layout.records > kMaxMetafileRecords) {
      RaisePictureError(platform::kErrInvalidPicture);
    }
    const Reader rec(bytes.subspan(at, size));
    if (std::optional<DibFields> f = DibFieldsOf(rec, type)) {
      if (type == kExtCreatePen) {
        // Its bitmap is not drawn; only its place is checked.
        if (f->cb_bmi != 0 && !rec.Has(f->off_bmi, f->cb_bmi)) {
          RaisePictureError(platform::kErrInvalidPicture);
        }
      } else if (std::optional<DibInfo> dib =
                     ReadDibInfo(rec, f->off_bmi, f->cb_bmi, f->off_bits,
                                 f->cb_bits, type == kSetDiBitsToDevice)) {
        layout.largest_bitmap_pixels = std::max(
            layout.largest_bitmap_pixels, dib->width * std::abs(dib->height));
      }
    }
    if (type == kComment && rec.Has(8, 4)) {
      const std::span<const uint8_t> data = CommentData(rec);
      if (EmfPlus::IsEmfPlus(data)) {
        layout.largest_bitmap_pixels = std::max(
            layout.largest_bitmap_pixels, EmfPlus::LargestImagePixels(data));
      }
    }
    if (std::optional<DibFields> f = MaskFieldsOf(rec, type)) {
      if (std::optional<DibInfo> dib = ReadDibInfo(rec, f->off_bmi, f->cb_bmi,
                                                   f->off_bits, f->cb_bits)) {
        layout.largest_bitmap_pixels = std::max(
            layout.largest_bitmap_pixels, dib->width * std::abs(dib->height));
      }
    }
    at += size;
    ended = type == kEof;
  }
  // The last record is EOF; a file without it was cut short.
  if (!ended) RaisePictureError(platform::kErrInvalidPicture);
  return layout;
}

DecodedImage DecodeEmf(std::span<const uint8_t> bytes, const DecodeHint& hint) {
  const EmfLayout layout = ScanEmf(bytes);
  const Header header = ReadHeader(bytes);
  if (DeviceFrame(header).isEmpty()) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const RasterSize size = MetafileRasterSize(layout.width, layout.height, hint);
  const int64_t out_bytes = int64_t{size.width} * size.height * 4;
  // The picture, and a bitmap with its mask and a mirrored copy of it.
  DecodeBudget::Lease lease = SharedDecodeBudget().Take(
      out_bytes + 3 * layout.largest_bitmap_pixels * 4);
  DecodedImage out;
  out.width = static_cast<int32_t>(layout.width);
  out.height = static_cast<int32_t>(layout.height);
  out.pixel_width = size.width;
  out.pixel_height = size.height;
  out.stride_bytes = size.width * 4;
  try {
    out.bgrx.resize(static_cast<size_t>(out_bytes));
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  {
    // RGB32 in memory is blue, green, red, 255: the result's own layout.
    QImage image(out.bgrx.data(), size.width, size.height, out.stride_bytes,
                 QImage::Format_RGB32);
    if (image.isNull()) RaisePictureError(platform::kErrOutOfMemory);
    image.fill(Qt::white);
    const Deadline deadline(kMetafileTimeLimit);
    Player player(header, &image, &deadline);
    size_t at = 0;
    while (bytes.size() - at >= 8) {
      const Reader head(bytes.subspan(at, 8));
      const uint32_t size_bytes = head.U32(4);
      const Reader rec(bytes.subspan(at, size_bytes));
      if (!player.Play(rec, head.U32(0))) break;
      at += size_bytes;
      if (deadline.Passed()) RaisePictureError(platform::kErrInvalidPicture);
    }
    player.Finish();
  }
  for (size_t i = 3; i < out.bgrx.size(); i += 4) out.bgrx[i] = 255;
  return out;
}

}  // namespace vg::decoders::decoders_internal
