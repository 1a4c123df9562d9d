#include "decoders/internal/emf_plus.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QGradient>
#include <QImage>
#include <QImageReader>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "decoders/decode_picture.h"
#include "decoders/internal/byte_order.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

constexpr uint32_t kIdentifier = 0x2B464D45;  // "EMF+"
constexpr size_t kRecordHeader = 12;

// Record types.
enum : uint16_t {
  kHeader = 0x4001,
  kEndOfFile = 0x4002,
  kComment = 0x4003,
  kGetDc = 0x4004,
  kObject = 0x4008,
  kClear = 0x4009,
  kFillRects = 0x400A,
  kDrawRects = 0x400B,
  kFillPolygon = 0x400C,
  kDrawLines = 0x400D,
  kFillEllipse = 0x400E,
  kDrawEllipse = 0x400F,
  kFillPie = 0x4010,
  kDrawPie = 0x4011,
  kDrawArc = 0x4012,
  kFillRegion = 0x4013,
  kFillPath = 0x4014,
  kDrawPath = 0x4015,
  kFillClosedCurve = 0x4016,
  kDrawClosedCurve = 0x4017,
  kDrawCurve = 0x4018,
  kDrawBeziers = 0x4019,
  kDrawImage = 0x401A,
  kDrawImagePoints = 0x401B,
  kDrawString = 0x401C,
  kSetRenderingOrigin = 0x401D,
  kSetAntiAliasMode = 0x401E,
  kSetTextRenderingHint = 0x401F,
  kSetTextContrast = 0x4020,
  kSetInterpolationMode = 0x4021,
  kSetPixelOffsetMode = 0x4022,
  kSetCompositingMode = 0x4023,
  kSetCompositingQuality = 0x4024,
  kSave = 0x4025,
  kRestore = 0x4026,
  kBeginContainerNoParams = 0x4028,
  kEndContainer = 0x4029,
  kSetWorldTransform = 0x402A,
  kResetWorldTransform = 0x402B,
  kMultiplyWorldTransform = 0x402C,
  kTranslateWorldTransform = 0x402D,
  kScaleWorldTransform = 0x402E,
  kRotateWorldTransform = 0x402F,
  kSetPageTransform = 0x4030,
  kResetClip = 0x4031,
  kSetClipRect = 0x4032,
  kSetClipPath = 0x4033,
  kSetClipRegion = 0x4034,
};

// Flags.
constexpr uint16_t kDualFlag = 0x0001;
constexpr uint16_t kColourFlag = 0x8000;      // S: the brush is a colour
constexpr uint16_t kCompressedFlag = 0x4000;  // C: 16-bit coordinates
constexpr uint16_t kRelativeFlag = 0x0800;    // P: relative coordinates
constexpr uint16_t kRunLengthFlag = 0x1000;   // a path's types in runs
constexpr uint16_t kClosedFlag = 0x2000;      // L: DrawLines closes
constexpr uint16_t kWindingFlag = 0x2000;     // W: filled by winding
constexpr uint16_t kAppendFlag = 0x2000;      // A: transform applied after
constexpr uint16_t kContinuedFlag = 0x8000;   // an object in several records

// Object types.
enum : uint32_t {
  kBrushObject = 1,
  kPenObject = 2,
  kPathObject = 3,
  kRegionObject = 4,
  kImageObject = 5,
  kFontObject = 6,
  kStringFormatObject = 7,
};

// Brush types.
enum : uint32_t {
  kSolidBrush = 0,
  kHatchBrush = 1,
  kTextureBrush = 2,
  kPathGradientBrush = 3,
  kLinearGradientBrush = 4,
};

// Region nodes: two nodes combined (kAndNode... kComplementNode, numbered
// as the combine modes of clipping), or one of these.
enum : uint32_t {
  kAndNode = 1,
  kComplementNode = 5,
  kRectNode = 0x10000000,
  kPathNode = 0x10000001,
  kEmptyNode = 0x10000002,
  kInfiniteNode = 0x10000003,
};

// Image types, and how a bitmap's pixels are stored.
constexpr uint32_t kBitmapImage = 1;
constexpr uint32_t kCompressedBitmap = 1;
// A texture brush's flag: a transform comes before its image.
constexpr uint32_t kBrushDataTransform = 0x02;

// Where a texture brush's image starts in a brush object's data from `at`.
size_t TextureImageAt(uint32_t brush_flags, size_t at) {
  // Version and type; flags and wrap mode; then its transform, if any.
  return at + 16 + ((brush_flags & kBrushDataTransform) != 0 ? 24 : 0);
}

// Units of pages and fonts.
enum : uint32_t {
  kUnitWorld = 0,
  kUnitPoint = 3,
  kUnitInch = 4,
  kUnitDocument = 5,
  kUnitMillimeter = 6,
};

// A string format's flag: lines are not broken to fit the box.
constexpr uint32_t kNoWrapFlag = 0x1000;

// String alignments, along a line and across the lines.
enum : uint32_t { kAlignNear = 0, kAlignCentre = 1, kAlignFar = 2 };

// Wrap modes of gradients: tile, three flips, clamp.
constexpr int32_t kWrapTile = 0;
constexpr int32_t kWrapClamp = 4;

// Pixel formats of bitmaps.
constexpr uint32_t kFormat24Rgb = 0x00021808;
constexpr uint32_t kFormat32Rgb = 0x00022009;
constexpr uint32_t kFormat32Argb = 0x0026200A;
constexpr uint32_t kFormat32Pargb = 0x000E200B;

class Bytes {
 public:
  explicit Bytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  // Raises 481 unless `n` bytes lie at `at`.
  void Need(size_t at, size_t n) const {
    if (!Holds(bytes_, at, n)) RaisePictureError(platform::kErrInvalidPicture);
  }
  uint32_t U32(size_t at) const { return Le32(bytes_, at); }
  int16_t I16(size_t at) const {
    return static_cast<int16_t>(Le16(bytes_, at));
  }
  int32_t I32(size_t at) const { return static_cast<int32_t>(U32(at)); }
  // A float, raising 481 when it is not a usable number.
  double F32(size_t at) const {
    const uint32_t bits = U32(at);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    if (!std::isfinite(f) || std::abs(f) > 1e9F) {
      RaisePictureError(platform::kErrInvalidPicture);
    }
    return f;
  }
  // `chars` UTF-16 units from `at`, raising 481 when they are not there.
  std::u16string Utf16(size_t at, uint32_t chars) const {
    Need(at, size_t{chars} * 2);
    std::u16string text(chars, u'\0');
    for (uint32_t i = 0; i < chars; ++i) {
      text[i] = static_cast<char16_t>(Le16(bytes_, at + size_t{i} * 2));
    }
    return text;
  }
  size_t size() const { return bytes_.size(); }
  std::span<const uint8_t> From(size_t at) const {
    Need(at, 0);
    return bytes_.subspan(at);
  }

 private:
  std::span<const uint8_t> bytes_;
};

// An EMF+ record's head: its type, flags, size and data size.
struct RecordHead {
  uint16_t type;
  uint16_t flags;
  uint32_t size;
  uint32_t data_size;
};

// Returns the head of the record at `at`; raises 481 when the record or
// its data reach beyond `b`.
RecordHead ReadRecordHead(const Bytes& b, size_t at) {
  const RecordHead head{static_cast<uint16_t>(b.U32(at)),
                        static_cast<uint16_t>(b.U32(at) >> 16), b.U32(at + 4),
                        b.U32(at + 8)};
  if (head.size < kRecordHeader || head.size > b.size() - at ||
      head.data_size > head.size - kRecordHeader) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  return head;
}

QColor Argb(uint32_t v) {
  return QColor(static_cast<int>(v >> 16 & 0xFF),
                static_cast<int>(v >> 8 & 0xFF), static_cast<int>(v & 0xFF),
                static_cast<int>(v >> 24));
}

// One coordinate of a relative point at `*at`, which moves past it: 7 bits
// in one byte, or 15 bits in two when the first byte's high bit is set.
int32_t ReadRelative(const Bytes& b, size_t* at) {
  b.Need(*at, 1);
  const uint8_t first = b.From(*at)[0];
  if ((first & 0x80) == 0) {
    *at += 1;
    return (first & 0x40) != 0 ? first - 0x80 : first;
  }
  b.Need(*at, 2);
  const int32_t value = (first & 0x7F) << 8 | b.From(*at)[1];
  *at += 2;
  return (value & 0x4000) != 0 ? value - 0x8000 : value;
}

// `count` points at `at`: 16-bit integers, floats, or each relative to the
// one before, as `flags` say. `*end`, when given, receives where they end.
std::vector<QPointF> ReadPoints(const Bytes& b, size_t at, uint32_t count,
                                uint16_t flags, size_t* end = nullptr) {
  const bool relative = (flags & kRelativeFlag) != 0;
  const bool small = (flags & kCompressedFlag) != 0;
  const size_t each = relative ? 2 : small ? 4 : 8;
  if (count > b.size() / each) RaisePictureError(platform::kErrInvalidPicture);
  if (!relative) b.Need(at, count * each);
  std::vector<QPointF> points;
  points.reserve(count);
  QPointF last(0, 0);
  for (uint32_t i = 0; i < count; ++i) {
    if (relative) {
      const int32_t dx = ReadRelative(b, &at);
      last += QPointF(dx, ReadRelative(b, &at));
      points.push_back(last);
    } else {
      points.emplace_back(small ? b.I16(at) : b.F32(at),
                          small ? b.I16(at + 2) : b.F32(at + 4));
      at += each;
    }
  }
  if (end != nullptr) *end = at;
  return points;
}

// The cardinal spline through `points` with `tension` (0: straight lines),
// as Bézier curves: segments `first` to `first + segments`, every point
// pulled toward the line from the one before it to the one after; the
// first point follows the last when `closed`.
QPainterPath CardinalSpline(const std::vector<QPointF>& points, double tension,
                            bool closed, size_t first = 0,
                            size_t segments = SIZE_MAX) {
  QPainterPath path;
  const size_t n = points.size();
  if (n < 2) return path;
  const auto at = [&](ptrdiff_t i) {
    const auto count = static_cast<ptrdiff_t>(n);
    if (closed) return points[static_cast<size_t>((i % count + count) % count)];
    return points[static_cast<size_t>(std::clamp<ptrdiff_t>(i, 0, count - 1))];
  };
  const double pull = tension / 3;
  const size_t last = closed ? n : n - 1;
  segments = std::min(segments, last > first ? last - first : 0);
  if (segments == 0) return path;
  path.moveTo(at(static_cast<ptrdiff_t>(first)));
  for (size_t s = first; s < first + segments; ++s) {
    const auto i = static_cast<ptrdiff_t>(s);
    path.cubicTo(at(i) + pull * (at(i + 1) - at(i - 1)),
                 at(i + 1) - pull * (at(i + 2) - at(i)), at(i + 1));
  }
  if (closed) path.closeSubpath();
  return path;
}

QRectF ReadRect(const Bytes& b, size_t at, bool small) {
  if (small) {
    return {static_cast<double>(b.I16(at)), static_cast<double>(b.I16(at + 2)),
            static_cast<double>(b.I16(at + 4)),
            static_cast<double>(b.I16(at + 6))};
  }
  return {b.F32(at), b.F32(at + 4), b.F32(at + 8), b.F32(at + 12)};
}

QTransform ReadMatrix(const Bytes& b, size_t at) {
  return {b.F32(at),      b.F32(at + 4),  b.F32(at + 8),
          b.F32(at + 12), b.F32(at + 16), b.F32(at + 20)};
}

QPainterPath ReadPath(const Bytes& b, size_t at);

// A hatch of `style` (the six basic ones; the others are drawn as the
// basic one nearest in look) in `fore` over `back`, 8 pixels a period.
QBrush HatchBrush(uint32_t style, const QColor& fore, const QColor& back) {
  QImage tile(8, 8, QImage::Format_ARGB32);
  tile.fill(back);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      bool on = false;
      switch (style % 6) {
        case 0:  // horizontal
          on = y == 0;
          break;
        case 1:  // vertical
          on = x == 0;
          break;
        case 2:  // forward diagonal
          on = x == y;
          break;
        case 3:  // backward diagonal
          on = x == 7 - y;
          break;
        case 4:  // cross
          on = x == 0 || y == 0;
          break;
        default:  // diagonal cross
          on = x == y || x == 7 - y;
          break;
      }
      if (on) tile.setPixelColor(x, y, fore);
    }
  }
  return QBrush(tile);
}

// A gradient's colours after its rectangle, as its wrap mode repeats them.
QGradient::Spread SpreadOf(int32_t wrap_mode) {
  if (wrap_mode == kWrapClamp) return QGradient::PadSpread;
  return wrap_mode == kWrapTile ? QGradient::RepeatSpread
                                : QGradient::ReflectSpread;
}

// The optional blend of a gradient at `at` (`flags` say which): preset
// colours, or factors between the start and end colours. Returns where
// the data after it starts.
size_t ReadBlend(const Bytes& b, size_t at, uint32_t flags, const QColor& start,
                 const QColor& end, QGradient* gradient) {
  constexpr uint32_t kPresetColours = 0x04;
  constexpr uint32_t kFactors = 0x08 | 0x10;
  if ((flags & (kPresetColours | kFactors)) == 0) return at;
  const uint32_t count = b.U32(at);
  if (count > b.size() / 8) RaisePictureError(platform::kErrInvalidPicture);
  const size_t positions = at + 4;
  const size_t values = positions + size_t{count} * 4;
  b.Need(values, size_t{count} * 4);
  QGradientStops stops;
  for (size_t i = 0; i < count; ++i) {
    const double position = std::clamp(b.F32(positions + i * 4), 0.0, 1.0);
    QColor colour;
    if ((flags & kPresetColours) != 0) {
      colour = Argb(b.U32(values + i * 4));
    } else {
      const double f = std::clamp(b.F32(values + i * 4), 0.0, 1.0);
      const auto mix = [f](int a, int z) {
        return static_cast<int>(std::lround(a + (z - a) * f));
      };
      colour = QColor(
          mix(start.red(), end.red()), mix(start.green(), end.green()),
          mix(start.blue(), end.blue()), mix(start.alpha(), end.alpha()));
    }
    stops.push_back({position, colour});
  }
  if (!stops.isEmpty()) gradient->setStops(stops);
  return values + size_t{count} * 4;
}

// A linear gradient brush's data from `at`: flags, wrap mode, rectangle,
// start and end colours, two reserved values, then its transform and
// blend when its flags say so. The colours run along the rectangle's
// width.
QBrush LinearGradientBrush(const Bytes& b, size_t at) {
  const uint32_t flags = b.U32(at);
  const QRectF rect(b.F32(at + 8), b.F32(at + 12), b.F32(at + 16),
                    b.F32(at + 20));
  const QColor start = Argb(b.U32(at + 24));
  const QColor end = Argb(b.U32(at + 28));
  QLinearGradient gradient(rect.left(), 0, rect.right(), 0);
  gradient.setColorAt(0, start);
  gradient.setColorAt(1, end);
  gradient.setSpread(SpreadOf(b.I32(at + 4)));
  size_t p = at + 40;
  QTransform transform;
  if ((flags & 0x02) != 0) {
    transform = ReadMatrix(b, p);
    p += 24;
  }
  ReadBlend(b, p, flags, start, end, &gradient);
  QBrush brush(gradient);
  brush.setTransform(transform);
  return brush;
}

// A path gradient brush's data from `at`: flags, wrap mode, centre colour
// and point, the colours around it, then its boundary (a path, or points).
// Drawn as an elliptical gradient from the centre to the first colour
// around it at the boundary's box: exact for an ellipse, near for others.
QBrush PathGradientBrush(const Bytes& b, size_t at) {
  const uint32_t flags = b.U32(at);
  const QColor centre_colour = Argb(b.U32(at + 8));
  const QPointF centre(b.F32(at + 12), b.F32(at + 16));
  const uint32_t around = b.U32(at + 20);
  if (around == 0 || around > b.size() / 4) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const QColor edge = Argb(b.U32(at + 24));
  size_t p = at + 24 + size_t{around} * 4;
  QRectF box;
  if ((flags & 0x01) != 0) {
    box = ReadPath(b, p + 4).boundingRect();  // after the path's size
  } else {
    const std::vector<QPointF> points = ReadPoints(b, p + 4, b.U32(p), 0);
    box =
        QPolygonF(QList<QPointF>(points.begin(), points.end())).boundingRect();
  }
  if (box.width() <= 0 || box.height() <= 0) return QBrush(centre_colour);
  QRadialGradient gradient(QPointF(0, 0), 1);
  gradient.setColorAt(0, centre_colour);
  gradient.setColorAt(1, edge);
  QBrush brush(gradient);
  brush.setTransform(QTransform::fromScale(box.width() / 2, box.height() / 2) *
                     QTransform::fromTranslate(centre.x(), centre.y()));
  return brush;
}

QImage ReadImage(const Bytes& b, size_t at);

// A texture brush's data from `at` (flags, wrap mode, transform, image):
// its image tiled from the origin, one pixel a world unit unless its
// transform says otherwise; grey when its image is not drawn here (a
// metafile). Every wrap mode is drawn as plain tiling.
QBrush TextureBrush(const Bytes& b, size_t at) {
  const uint32_t flags = b.U32(at);
  QTransform transform;
  if ((flags & kBrushDataTransform) != 0) {
    double m[6];
    for (size_t i = 0; i < 6; ++i) m[i] = b.F32(at + 8 + 4 * i);
    if (std::all_of(m, m + 6, [](double v) { return std::isfinite(v); })) {
      transform = QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
    }
  }
  const QImage image = ReadImage(b, TextureImageAt(flags, at - 8));
  if (image.isNull()) return QBrush(QColor(128, 128, 128));
  QBrush brush(image);
  brush.setTransform(transform);
  return brush;
}

// A brush object's data from `at`.
QBrush ReadBrush(const Bytes& b, size_t at) {
  const uint32_t type = b.U32(at + 4);
  switch (type) {
    case kSolidBrush:
      return QBrush(Argb(b.U32(at + 8)));
    case kHatchBrush:  // style, fore colour, back colour
      return HatchBrush(b.U32(at + 8), Argb(b.U32(at + 12)),
                        Argb(b.U32(at + 16)));
    case kPathGradientBrush:
      return PathGradientBrush(b, at + 8);
    case kLinearGradientBrush:
      return LinearGradientBrush(b, at + 8);
    case kTextureBrush:
      return TextureBrush(b, at + 8);
    default:
      return QBrush(QColor(128, 128, 128));
  }
}

// A pen object's data from `at`.
QPen ReadPen(const Bytes& b, size_t at) {
  const uint32_t flags = b.U32(at + 8);
  const double width = b.F32(at + 16);
  size_t p = at + 20;
  Qt::PenCapStyle cap = Qt::FlatCap;
  Qt::PenJoinStyle join = Qt::MiterJoin;
  Qt::PenStyle style = Qt::SolidLine;
  auto cap_of = [](int32_t c) {
    return c == 1 ? Qt::SquareCap : c == 2 ? Qt::RoundCap : Qt::FlatCap;
  };
  if ((flags & 0x0001) != 0) p += 24;  // transform
  if ((flags & 0x0002) != 0) cap = cap_of(b.I32(p)), p += 4;
  if ((flags & 0x0004) != 0) p += 4;  // end cap, taken as the start's
  if ((flags & 0x0008) != 0) {
    const uint32_t j = b.U32(p);
    join = j == 1 ? Qt::BevelJoin : j == 2 ? Qt::RoundJoin : Qt::MiterJoin;
    p += 4;
  }
  if ((flags & 0x0010) != 0) p += 4;  // miter limit
  if ((flags & 0x0020) != 0) {
    static constexpr Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine,
                                               Qt::DotLine, Qt::DashDotLine,
                                               Qt::DashDotDotLine};
    const uint32_t s = b.U32(p);
    style = s < std::size(kStyles) ? kStyles[s] : Qt::SolidLine;
    p += 4;
  }
  if ((flags & 0x0040) != 0) p += 4;  // dash cap
  if ((flags & 0x0080) != 0) p += 4;  // dash offset
  for (uint32_t arrays : {0x0100U, 0x0200U, 0x0400U}) {
    if ((flags & arrays) == 0) continue;
    if (arrays == 0x0200U) {  // alignment
      p += 4;
      continue;
    }
    const uint32_t n = b.U32(p);  // dash lengths or compound widths
    if (n > b.size() / 4) RaisePictureError(platform::kErrInvalidPicture);
    p += 4 + size_t{n} * 4;
  }
  for (uint32_t caps : {0x0800U, 0x1000U}) {
    if ((flags & caps) == 0) continue;
    const uint32_t n = b.U32(p);  // custom line cap
    if (n > b.size()) RaisePictureError(platform::kErrInvalidPicture);
    p += 4 + size_t{n};
  }
  // A pen's texture is drawn grey: its image is not among those the
  // picture's survey counted.
  const bool texture = b.U32(p + 4) == kTextureBrush;
  QPen pen(texture ? QBrush(QColor(128, 128, 128)) : ReadBrush(b, p), width,
           style, cap, join);
  if (width <= 0) pen.setCosmetic(true);
  return pen;
}

// A path object's data from `at`.
QPainterPath ReadPath(const Bytes& b, size_t at) {
  const uint32_t count = b.U32(at + 4);
  const uint16_t flags = static_cast<uint16_t>(b.U32(at + 8));
  size_t types_at = 0;
  const std::vector<QPointF> points =
      ReadPoints(b, at + 12, count, flags, &types_at);
  std::vector<uint8_t> types;
  types.reserve(count);
  if ((flags & kRunLengthFlag) != 0) {
    // Runs: a count (and a Bézier bit) in one byte, the type in the next.
    while (types.size() < count) {
      b.Need(types_at, 2);
      const std::span<const uint8_t> run = b.From(types_at).first(2);
      const size_t length =
          std::min<size_t>(run[0] & 0x3F, count - types.size());
      if (length == 0) RaisePictureError(platform::kErrInvalidPicture);
      types.insert(types.end(), length, run[1]);
      types_at += 2;
    }
  } else {
    b.Need(types_at, count);
    const std::span<const uint8_t> bytes = b.From(types_at).first(count);
    types.assign(bytes.begin(), bytes.end());
  }
  QPainterPath path;
  path.setFillRule(Qt::WindingFill);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t kind = types[i] & 0x07;
    if (kind == 0 || path.elementCount() == 0) {
      path.moveTo(points[i]);
    } else if (kind == 3 && i + 2 < count) {
      path.cubicTo(points[i], points[i + 1], points[i + 2]);
      i += 2;
    } else {
      path.lineTo(points[i]);
    }
    if ((types[i] & 0x80) != 0) path.closeSubpath();
  }
  return path;
}

// An image object's data from `at`: a bitmap of pixels or compressed, no
// larger than a picture may be.
QImage ReadImage(const Bytes& b, size_t at) {
  if (b.U32(at + 4) != kBitmapImage) return {};  // a metafile is not drawn
  const int32_t width = b.I32(at + 8);
  const int32_t height = b.I32(at + 12);
  const int32_t stride = b.I32(at + 16);
  const uint32_t format = b.U32(at + 20);
  const uint32_t kind = b.U32(at + 24);
  CheckPictureSize(width, height);
  const std::span<const uint8_t> data = b.From(at + 28);
  if (kind == kCompressedBitmap) {
    // Compressed: read only when its own header agrees with the object's.
    QByteArray compressed =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()),
                                static_cast<qsizetype>(data.size()));
    QBuffer buffer(&compressed);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (reader.size() != QSize(width, height)) {
      RaisePictureError(platform::kErrInvalidPicture);
    }
    return reader.read();
  }
  const int bytes_per_pixel = format == kFormat24Rgb ? 3 : 4;
  if (format != kFormat24Rgb && format != kFormat32Rgb &&
      format != kFormat32Argb && format != kFormat32Pargb) {
    return {};
  }
  if (stride < int64_t{width} * bytes_per_pixel ||
      int64_t{stride} * height > static_cast<int64_t>(data.size())) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  QImage image(width, height,
               format == kFormat32Pargb ? QImage::Format_ARGB32_Premultiplied
                                        : QImage::Format_ARGB32);
  if (image.isNull()) RaisePictureError(platform::kErrOutOfMemory);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = data.data() + static_cast<size_t>(stride) * y;
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < width; ++x, row += bytes_per_pixel) {
      const int alpha =
          format == kFormat32Argb || format == kFormat32Pargb ? row[3] : 255;
      out[x] = qRgba(row[2], row[1], row[0], alpha);
    }
  }
  return image;
}

// The device pixels to one page unit.
QTransform PageTransform(uint32_t unit, double scale, double dpi_x,
                         double dpi_y) {
  double per_inch = 0;  // units per inch; 0: device pixels
  switch (unit) {
    case kUnitPoint:
      per_inch = 72;
      break;
    case kUnitInch:
      per_inch = 1;
      break;
    case kUnitDocument:
      per_inch = 300;
      break;
    case kUnitMillimeter:
      per_inch = 25.4;
      break;
    default:  // world, display and pixel
      break;
  }
  if (per_inch == 0) return QTransform::fromScale(scale, scale);
  return QTransform::fromScale(scale * dpi_x / per_inch,
                               scale * dpi_y / per_inch);
}

// A path that holds everything drawn.
QPainterPath Everywhere() {
  QPainterPath whole;
  whole.addRect(QRectF(-1e7, -1e7, 2e7, 2e7));
  return whole;
}

// `current` combined with `area` as mode `mode` says: 0 replace, 1
// intersect, 2 union, 3 xor, 4 exclude, 5 complement.
QPainterPath Combine(uint32_t mode, const QPainterPath& current,
                     const QPainterPath& area) {
  switch (mode) {
    case 0:
      return area;
    case 1:
      return current.intersected(area);
    case 2:
      return current.united(area);
    case 3:
      return current.united(area).subtracted(current.intersected(area));
    case 4:
      return current.subtracted(area);
    default:
      return area.subtracted(current);
  }
}

// The region node at `*at`, which moves past it: a rectangle, a path,
// empty, infinite, or two nodes combined. Raises 481 for a node of no
// such kind, or nested deeper than a region may be.
QPainterPath ReadRegionNode(const Bytes& b, size_t* at, int depth) {
  constexpr int kMaxDepth = 64;
  if (depth > kMaxDepth) RaisePictureError(platform::kErrInvalidPicture);
  const uint32_t type = b.U32(*at);
  *at += 4;
  switch (type) {
    case kRectNode: {
      QPainterPath rect;
      rect.addRect(ReadRect(b, *at, false));
      *at += 16;
      return rect;
    }
    case kPathNode: {  // its size, then the path
      const uint32_t size = b.U32(*at);
      b.Need(*at + 4, size);
      QPainterPath path = ReadPath(b, *at + 4);
      *at += 4 + size_t{size};
      return path;
    }
    case kEmptyNode:
      return {};
    case kInfiniteNode:
      return Everywhere();
    default: {
      if (type < kAndNode || type > kComplementNode) {
        RaisePictureError(platform::kErrInvalidPicture);
      }
      const QPainterPath left = ReadRegionNode(b, at, depth + 1);
      const QPainterPath right = ReadRegionNode(b, at, depth + 1);
      return Combine(type, left, right);
    }
  }
}

}  // namespace

void EmfPlus::Scan(std::span<const uint8_t> comment_data, Survey* survey) {
  const Bytes b(comment_data);
  for (size_t at = 4; b.size() - at >= kRecordHeader;) {
    const auto [type, flags, size, data_size] = ReadRecordHead(b, at);
    ++survey->records;
    const Bytes data(comment_data.subspan(at + kRecordHeader, data_size));
    at += size;
    if (type != kObject) continue;
    const bool continued = (flags & kContinuedFlag) != 0;
    // An object's data starts in its first record, after the total size
    // when more records follow.
    const bool first = !survey->in_continued;
    const size_t start = continued ? 4 : 0;
    survey->in_continued = continued;
    if (continued) survey->continued_objects = true;
    // A bitmap object, or a texture brush's bitmap: version, type, width,
    // height.
    const uint32_t kind = flags >> 8 & 0x7F;
    size_t image = start;
    if (first && kind == kBrushObject && data.size() >= start + 12 &&
        data.U32(start + 4) == kTextureBrush) {
      image = TextureImageAt(data.U32(start + 8), start);
    }
    if (first && (kind == kImageObject || image != start) &&
        data.size() >= image + 16 && data.U32(image + 4) == kBitmapImage) {
      const int32_t width = data.I32(image + 8);
      const int32_t height = data.I32(image + 12);
      CheckPictureSize(width, height);
      survey->largest_image_pixels =
          std::max(survey->largest_image_pixels, int64_t{width} * height);
    }
  }
}

EmfPlus::EmfPlus(QPainter* painter, const QTransform* device_to_output,
                 const Deadline* deadline, OutlineFonts* fonts)
    : painter_(painter),
      device_to_output_(device_to_output),
      deadline_(deadline),
      fonts_(fonts) {}

bool EmfPlus::IsEmfPlus(std::span<const uint8_t> comment_data) {
  return comment_data.size() >= 4 && Bytes(comment_data).U32(0) == kIdentifier;
}

void EmfPlus::Play(std::span<const uint8_t> comment_data) {
  const Bytes b(comment_data);
  size_t at = 4;
  while (b.size() - at >= kRecordHeader) {
    const auto [type, flags, size, data_size] = ReadRecordHead(b, at);
    if (type == kHeader) {
      header_seen_ = true;
      dual_ = (flags & kDualFlag) != 0;
      const Bytes h(comment_data.subspan(at + kRecordHeader, data_size));
      if (h.size() >= 16) {
        if (h.U32(8) > 0) dpi_x_ = h.U32(8);
        if (h.U32(12) > 0) dpi_y_ = h.U32(12);
      }
    }
    if (!header_seen_ || dual_) return;
    in_get_dc_ = type == kGetDc;
    PlayRecord(type, flags,
               comment_data.subspan(at + kRecordHeader, data_size));
    at += size;
    if (deadline_->Passed()) RaiseDrawingTooLong();
  }
}

void EmfPlus::Finish() const {
  if (header_seen_ && !dual_ && !drew_ && skipped_drawing_) {
    RaiseInvalidPicture("EMF+ only");
  }
}

QTransform EmfPlus::ToOutput() const {
  return state_.world * state_.page * *device_to_output_;
}

const EmfPlus::Object& EmfPlus::ObjectOf(uint32_t index,
                                         Object::Kind kind) const {
  static const Object kNone;
  if (index >= objects_.size()) RaisePictureError(platform::kErrInvalidPicture);
  return objects_[index].kind == kind ? objects_[index] : kNone;
}

QBrush EmfPlus::BrushOf(uint16_t flags, uint32_t value) const {
  if ((flags & kColourFlag) != 0) return QBrush(Argb(value));
  return ObjectOf(value, Object::Kind::kBrush).brush;
}

const QPen& EmfPlus::PenOf(uint32_t index) const {
  return ObjectOf(index, Object::Kind::kPen).pen;
}

void EmfPlus::Draw(const QPainterPath& path, const QBrush* brush,
                   const QPen* pen) {
  if ((brush != nullptr && brush->style() == Qt::NoBrush) ||
      (pen != nullptr && pen->style() == Qt::NoPen)) {
    return;
  }
  painter_->save();
  SetClip();
  painter_->setTransform(ToOutput());
  if (brush != nullptr) painter_->fillPath(path, *brush);
  if (pen != nullptr) painter_->strokePath(path, *pen);
  painter_->restore();
  drew_ = true;
}

void EmfPlus::SetClip() {
  painter_->resetTransform();
  if (state_.clipped) {
    painter_->setClipPath(state_.clip);
  } else {
    painter_->setClipping(false);
  }
}

void EmfPlus::DrawImage(const QImage& image, const QRectF& source,
                        const std::array<QPointF, 3>& dest) {
  if (image.isNull() || source.width() <= 0 || source.height() <= 0) {
    skipped_drawing_ = true;
    return;
  }
  // The source rectangle onto the parallelogram of its upper left, upper
  // right and lower left corners.
  const QPointF ux = (dest[1] - dest[0]) / source.width();
  const QPointF uy = (dest[2] - dest[0]) / source.height();
  const QTransform place(
      ux.x(), ux.y(), uy.x(), uy.y(),
      dest[0].x() - source.left() * ux.x() - source.top() * uy.x(),
      dest[0].y() - source.left() * ux.y() - source.top() * uy.y());
  painter_->save();
  SetClip();
  painter_->setTransform(place * ToOutput());
  painter_->setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter_->drawImage(source, image, source);
  painter_->restore();
  drew_ = true;
}

void EmfPlus::Clip(uint16_t flags, const QPainterPath& world_path) {
  state_.clip =
      Combine(flags >> 8 & 0xF, state_.clipped ? state_.clip : Everywhere(),
              ToOutput().map(world_path));
  state_.clipped = true;
}

void EmfPlus::DrawString(uint16_t flags, std::span<const uint8_t> data) {
  // Brush (or colour), string format, length in characters, layout box,
  // the text.
  const Bytes b(data);
  const Object& font_object = ObjectOf(flags & 0xFF, Object::Kind::kFont);
  if (font_object.kind != Object::Kind::kFont) {
    skipped_drawing_ = true;  // no font to draw it with
    return;
  }
  const uint32_t format_id = b.U32(4);
  const Object::Font& font = font_object.font;
  // Without a format object, GDI+'s default one.
  static constexpr Object::Format kDefaultFormat{0, 0, 1.0 / 6, true};
  const Object::Format& format =
      format_id < objects_.size() &&
              objects_[format_id].kind == Object::Kind::kFormat
          ? objects_[format_id].format
          : kDefaultFormat;
  const QRectF box(b.F32(12), b.F32(16), b.F32(20), b.F32(24));
  const std::u16string text = b.Utf16(28, b.U32(8));
  // The em in world units: a font sized in pixels, points or inches has
  // that size on the device, whatever the page's scale.
  double em = font.em;
  if (font.unit != kUnitWorld) {
    const double page_scale = std::abs(state_.page.m22());
    em *= PageTransform(font.unit, 1, dpi_x_, dpi_y_).m22() /
          (page_scale > 0 ? page_scale : 1);
  }
  if (!(em > 0) || text.empty()) return;
  // Line by line, broken to fit the box where the format lets them be,
  // aligned in the box (or about its corner when it has no size).
  const double margin = format.leading_margin * em;
  const double line_room = box.width() - 2 * margin;
  std::vector<TextOutline> lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    if (format.wrap && line_room > 0) {
      for (std::u16string_view piece :
           Wrap(font.request, line, line_room / em)) {
        lines.push_back(fonts_->Layout(font.request, piece, {}));
      }
    } else {
      lines.push_back(fonts_->Layout(font.request, line, {}));
    }
    start = end + 1;
  }
  double line_height = 0;
  for (const TextOutline& line : lines) {
    line_height = std::max(line_height, line.ascent + line.descent);
  }
  line_height *= em;
  const auto place = [](uint32_t align, double start, double room,
                        double length) {
    if (align == kAlignCentre) return start + (room - length) / 2;
    if (align == kAlignFar) return start + room - length;
    return start;
  };
  double top = place(format.line_align, box.top(), box.height(),
                     line_height * static_cast<double>(lines.size()));
  const QBrush brush = BrushOf(flags, b.U32(0));
  QPainterPath glyphs;
  for (const TextOutline& line : lines) {
    const double width = line.advance * em;
    const double left =
        format.align == kAlignNear ? box.left() + margin
        : format.align == kAlignFar
            ? box.right() - width - margin
            : place(kAlignCentre, box.left(), box.width(), width);
    glyphs.addPath((QTransform::fromScale(em, em) *
                    QTransform::fromTranslate(left, top + line.ascent * em))
                       .map(line.path));
    top += line_height;
  }
  Draw(glyphs, &brush, nullptr);
}

std::vector<std::u16string_view> EmfPlus::Wrap(const FontRequest& font,
                                               std::u16string_view line,
                                               double room) {
  // Words measured one by one, and the spaces between them.
  const double space = fonts_->Layout(font, u" ", {}).advance;
  std::vector<std::u16string_view> pieces;
  size_t start = 0;  // of the piece being filled
  size_t end = 0;    // of its last word
  double width = 0;
  for (size_t at = 0; at < line.size();) {
    const size_t word = line.find_first_not_of(u' ', at);
    if (word == std::u16string_view::npos) break;
    const size_t word_end = std::min(line.find(u' ', word), line.size());
    const double length =
        fonts_->Layout(font, line.substr(word, word_end - word), {}).advance;
    const double gap = static_cast<double>(word - end) * space;
    if (end > start && width + gap + length > room) {
      // A word too long for a line of its own runs past the box.
      pieces.push_back(line.substr(start, end - start));
      start = word;
      width = length;
    } else {
      width += gap + length;
    }
    end = word_end;
    at = word_end;
  }
  pieces.push_back(line.substr(start, end - start));
  return pieces;
}

void EmfPlus::TakeObject(uint16_t flags, std::span<const uint8_t> data) {
  const bool continued = (flags & kContinuedFlag) != 0;
  const uint16_t object = flags & 0x7FFF;  // its type and index
  if (continued_flags_ && *continued_flags_ != object) {
    // Another object before the last record of this one: it is lost.
    continued_.clear();
    continued_flags_.reset();
    skipped_drawing_ = true;
  }
  if (!continued && !continued_flags_) {
    MakeObject(flags, data);
    return;
  }
  // Every record but the last starts with the object's total size.
  const Bytes b(data);
  const std::span<const uint8_t> part = continued ? b.From(4) : data;
  continued_.insert(continued_.end(), part.begin(), part.end());
  continued_flags_ = object;
  if (continued) return;
  const std::vector<uint8_t> whole = std::move(continued_);
  continued_.clear();
  continued_flags_.reset();
  MakeObject(object, whole);
}

void EmfPlus::MakeObject(uint16_t flags, std::span<const uint8_t> data) {
  const uint32_t index = flags & 0xFF;
  if (index >= objects_.size()) RaisePictureError(platform::kErrInvalidPicture);
  Object& object = objects_[index];
  object = Object();
  const Bytes b(data);
  switch (flags >> 8 & 0x7F) {
    case kBrushObject:
      object.kind = Object::Kind::kBrush;
      object.brush = ReadBrush(b, 0);
      break;
    case kPenObject:
      object.kind = Object::Kind::kPen;
      object.pen = ReadPen(b, 0);
      break;
    case kPathObject:
      object.kind = Object::Kind::kPath;
      object.path = ReadPath(b, 0);
      break;
    case kRegionObject: {
      // Version, node count, the root node.
      size_t at = 8;
      object.kind = Object::Kind::kRegion;
      object.path = ReadRegionNode(b, &at, 0);
      break;
    }
    case kImageObject:
      object.kind = Object::Kind::kImage;
      object.image = ReadImage(b, 0);
      break;
    case kFontObject: {
      // Version, em size, its unit, style, reserved, the face's length in
      // characters, the face.
      object.kind = Object::Kind::kFont;
      object.font.em = b.F32(4);
      object.font.unit = b.U32(8);
      const uint32_t style = b.U32(12);
      object.font.request.bold = (style & 1) != 0;
      object.font.request.italic = (style & 2) != 0;
      object.font.request.face = b.Utf16(24, b.U32(20));
      break;
    }
    case kStringFormatObject:
      // Version, flags, language, alignment, line alignment, digits (2),
      // first tab, hot key prefix, leading margin...
      object.kind = Object::Kind::kFormat;
      object.format.align = b.U32(12);
      object.format.line_align = b.U32(16);
      object.format.leading_margin = b.F32(36);
      object.format.wrap = (b.U32(4) & kNoWrapFlag) == 0;
      break;
    default:  // attributes, caps
      break;
  }
}

void EmfPlus::PlayRecord(uint16_t type, uint16_t flags,
                         std::span<const uint8_t> data) {
  const Bytes b(data);
  const bool small = (flags & kCompressedFlag) != 0;
  const size_t rect_bytes = small ? 8 : 16;
  const uint32_t id = flags & 0xFF;
  auto rects = [&](size_t count_at) {
    const uint32_t count = b.U32(count_at);
    if (count > b.size() / rect_bytes) {
      RaisePictureError(platform::kErrInvalidPicture);
    }
    QPainterPath path;
    for (uint32_t i = 0; i < count; ++i) {
      path.addRect(ReadRect(b, count_at + 4 + i * rect_bytes, small));
    }
    return path;
  };
  auto ellipse = [&](size_t at) {
    QPainterPath path;
    path.addEllipse(ReadRect(b, at, small));
    return path;
  };
  // A pie or an arc: start and sweep angles in degrees clockwise, then its
  // ellipse's box.
  auto arc = [&](size_t at, bool pie) {
    const double start = b.F32(at);
    const double sweep = b.F32(at + 4);
    const QRectF box = ReadRect(b, at + 8, small);
    QPainterPath path;
    if (pie) path.moveTo(box.center());
    path.arcMoveTo(box, -start);
    if (pie) path.lineTo(path.currentPosition());
    path.arcTo(box, -start, -sweep);
    if (pie) path.closeSubpath();
    return path;
  };
  // The rectangles, ellipse, pie or arc of a record that draws one, its
  // parameters from `at`.
  auto shape = [&](size_t at) {
    if (type == kFillRects || type == kDrawRects) return rects(at);
    if (type == kFillEllipse || type == kDrawEllipse) return ellipse(at);
    return arc(at, type == kFillPie || type == kDrawPie);
  };
  // A fill record's brush is its first parameter.
  const auto fill = [&](const QPainterPath& path) {
    const QBrush brush = BrushOf(flags, b.U32(0));
    Draw(path, &brush, nullptr);
  };
  switch (type) {
    case kEndOfFile:
    case kHeader:
    case kComment:
    case kGetDc:
    case kSetRenderingOrigin:
    case kSetAntiAliasMode:
    case kSetTextRenderingHint:
    case kSetTextContrast:
    case kSetInterpolationMode:
    case kSetPixelOffsetMode:
    case kSetCompositingMode:
    case kSetCompositingQuality:
      break;
    case kObject:
      TakeObject(flags, data);
      break;
    case kClear: {
      painter_->save();
      painter_->resetTransform();
      painter_->setClipping(false);
      painter_->setCompositionMode(QPainter::CompositionMode_Source);
      painter_->fillRect(QRect(0, 0, painter_->device()->width(),
                               painter_->device()->height()),
                         Argb(b.U32(0)));
      painter_->restore();
      drew_ = true;
      break;
    }
    case kFillRects:
    case kFillEllipse:
    case kFillPie:
      fill(shape(4));
      break;
    case kDrawRects:
    case kDrawEllipse:
    case kDrawPie:
    case kDrawArc:
      Draw(shape(0), nullptr, &PenOf(id));
      break;
    case kFillPolygon: {
      QPainterPath path;
      const std::vector<QPointF> points = ReadPoints(b, 8, b.U32(4), flags);
      path.addPolygon(QPolygonF(QList<QPointF>(points.begin(), points.end())));
      path.closeSubpath();
      fill(path);
      break;
    }
    case kDrawLines:
    case kDrawBeziers: {
      const std::vector<QPointF> points = ReadPoints(b, 4, b.U32(0), flags);
      if (points.empty()) break;
      QPainterPath path(points[0]);
      for (size_t i = 1; i < points.size(); ++i) {
        if (type == kDrawBeziers && i + 2 < points.size()) {
          path.cubicTo(points[i], points[i + 1], points[i + 2]);
          i += 2;
        } else {
          path.lineTo(points[i]);
        }
      }
      if (type == kDrawLines && (flags & kClosedFlag) != 0) {
        path.closeSubpath();
      }
      Draw(path, nullptr, &PenOf(id));
      break;
    }
    case kFillPath:
      fill(ObjectOf(id, Object::Kind::kPath).path);
      break;
    case kFillClosedCurve: {
      // Brush, tension, count, points.
      QPainterPath path = CardinalSpline(ReadPoints(b, 12, b.U32(8), flags),
                                         b.F32(4), /*closed=*/true);
      path.setFillRule((flags & kWindingFlag) != 0 ? Qt::WindingFill
                                                   : Qt::OddEvenFill);
      fill(path);
      break;
    }
    case kDrawClosedCurve:
      // Tension, count, points.
      Draw(CardinalSpline(ReadPoints(b, 8, b.U32(4), flags), b.F32(0),
                          /*closed=*/true),
           nullptr, &PenOf(id));
      break;
    case kDrawCurve:
      // Tension, the first segment drawn, how many, count, points.
      Draw(CardinalSpline(ReadPoints(b, 16, b.U32(12), flags), b.F32(0),
                          /*closed=*/false, b.U32(4), b.U32(8)),
           nullptr, &PenOf(id));
      break;
    case kFillRegion:
      fill(ObjectOf(id, Object::Kind::kRegion).path);
      break;
    case kDrawPath:
      Draw(ObjectOf(id, Object::Kind::kPath).path, nullptr, &PenOf(b.U32(0)));
      break;
    case kDrawImage:
    case kDrawImagePoints: {
      const QImage& image = ObjectOf(id, Object::Kind::kImage).image;
      const QRectF source(b.F32(8), b.F32(12), b.F32(16), b.F32(20));
      std::array<QPointF, 3> dest;
      if (type == kDrawImage) {
        const QRectF to = ReadRect(b, 24, small);
        dest = {to.topLeft(), to.topRight(), to.bottomLeft()};
      } else {
        if (b.U32(24) != 3) RaisePictureError(platform::kErrInvalidPicture);
        const std::vector<QPointF> p = ReadPoints(b, 28, 3, flags);
        dest = {p[0], p[1], p[2]};
      }
      DrawImage(image, source, dest);
      break;
    }
    case kSave:
      saved_.emplace_back(b.U32(0), state_);
      if (saved_.size() > 4096) RaisePictureError(platform::kErrInvalidPicture);
      break;
    case kBeginContainerNoParams:
      saved_.emplace_back(b.U32(0), state_);
      if (saved_.size() > 4096) RaisePictureError(platform::kErrInvalidPicture);
      state_.world = QTransform();
      break;
    case kRestore:
    case kEndContainer: {
      const uint32_t index = b.U32(0);
      auto it = std::find_if(saved_.rbegin(), saved_.rend(),
                             [&](const auto& s) { return s.first == index; });
      if (it != saved_.rend()) {
        state_ = it->second;
        saved_.erase(std::prev(it.base()), saved_.end());
      }
      break;
    }
    case kSetWorldTransform:
      state_.world = ReadMatrix(b, 0);
      break;
    case kResetWorldTransform:
      state_.world = QTransform();
      break;
    case kMultiplyWorldTransform:
    case kTranslateWorldTransform:
    case kScaleWorldTransform:
    case kRotateWorldTransform: {
      QTransform m;
      if (type == kMultiplyWorldTransform) {
        m = ReadMatrix(b, 0);
      } else if (type == kTranslateWorldTransform) {
        m = QTransform::fromTranslate(b.F32(0), b.F32(4));
      } else if (type == kScaleWorldTransform) {
        m = QTransform::fromScale(b.F32(0), b.F32(4));
      } else {
        m.rotate(b.F32(0));
      }
      state_.world =
          (flags & kAppendFlag) != 0 ? state_.world * m : m * state_.world;
      break;
    }
    case kSetPageTransform:
      state_.page = PageTransform(flags & 0xFF, b.F32(0), dpi_x_, dpi_y_);
      break;
    case kResetClip:
      state_.clipped = false;
      state_.clip = QPainterPath();
      break;
    case kSetClipRect: {
      QPainterPath path;
      path.addRect(ReadRect(b, 0, false));
      Clip(flags, path);
      break;
    }
    case kSetClipPath:
      Clip(flags, ObjectOf(id, Object::Kind::kPath).path);
      break;
    case kSetClipRegion:
      Clip(flags, ObjectOf(id, Object::Kind::kRegion).path);
      break;
    case kDrawString:
      DrawString(flags, data);
      break;
    default:
      // Curves and the rest are not drawn here.
      skipped_drawing_ = true;
      break;
  }
}

}  // namespace vg::decoders::decoders_internal
