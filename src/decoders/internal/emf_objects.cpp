#include <QImage>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <optional>

#include "decoders/internal/emf_dib.h"
#include "decoders/internal/emf_play.h"

namespace vg::decoders::decoders_internal::emf {
namespace {

// Returns the entry of `table` for the part of a pen style under `mask`,
// the first entry for a value past the table.
template <typename T, size_t N>
T PenPart(uint32_t style, uint32_t mask, const T (&table)[N]) {
  const uint32_t value = (style & mask) >> std::countr_zero(mask);
  return value < N ? table[value] : table[0];
}

// By the value of each part, from 0.
constexpr Qt::PenStyle kLineStyles[] = {Qt::SolidLine,      Qt::DashLine,
                                        Qt::DotLine,        Qt::DashDotLine,
                                        Qt::DashDotDotLine, Qt::NoPen};
static_assert(kLineStyles[kPsDash] == Qt::DashLine &&
              kLineStyles[kPsNull] == Qt::NoPen);
constexpr Qt::PenCapStyle kCapStyles[] = {Qt::RoundCap, Qt::SquareCap,
                                          Qt::FlatCap};
constexpr Qt::PenJoinStyle kJoinStyles[] = {Qt::RoundJoin, Qt::BevelJoin,
                                            Qt::MiterJoin};

}  // namespace

bool Player::PlayObject(const Reader& r, uint32_t type) {
  switch (type) {
    case kSelectObject:
      if (HasParams(r, 4)) SelectObject(r.U32(8));
      return true;
    case kCreatePen:
      CreatePen(r, false);
      return true;
    case kExtCreatePen:
      CreatePen(r, true);
      return true;
    case kCreateBrushIndirect:
    case kCreateMonoBrush:
    case kCreateDibPatternBrushPt:
      CreateBrush(r, type);
      return true;
    case kExtCreateFontIndirectW:
      CreateFont(r);
      return true;
    case kDeleteObject:
      if (HasParams(r, 4)) {
        if (GdiObject* object = Object(r.U32(8))) *object = GdiObject();
      }
      return true;
    default:
      return false;
  }
}

void Player::SelectObject(uint32_t index) {
  if (index & kStockObject) {
    // The stock brushes from kWhiteBrush to kBlackBrush, by their grey.
    static constexpr std::array<int, 5> kBrushGrey = {255, 192, 128, 64, 0};
    const uint32_t stock = index & ~kStockObject;
    if (stock <= kBlackBrush || stock == kDcBrush) {
      const int grey = stock == kDcBrush ? 0 : kBrushGrey[stock];
      state_.brush = QBrush(QColor(grey, grey, grey));
    } else if (stock == kNullBrush) {
      state_.brush = QBrush(Qt::NoBrush);
    } else if (stock == kWhitePen || stock == kBlackPen || stock == kDcPen) {
      const int grey = stock == kWhitePen ? 255 : 0;
      state_.pen = QPen(QColor(grey, grey, grey), 0);
    } else if (stock == kNullPen) {
      state_.pen = QPen(Qt::NoPen);
    } else if (stock >= kOemFixedFont && stock <= kDefaultGuiFont &&
               stock != kDefaultPalette) {
      state_.font = Font();
      state_.font.request.face = u"Arial";
      state_.font.request.fixed_pitch = stock == kOemFixedFont ||
                                        stock == kAnsiFixedFont ||
                                        stock == kSystemFixedFont;
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
    case GdiObject::Kind::kPalette:  // selected by SelectPalette only
      break;
  }
}

void Player::CreatePen(const Reader& r, bool extended) {
  GdiObject* object = HasParams(r, 4) ? Object(r.U32(8)) : nullptr;
  if (object == nullptr) return;
  uint32_t style = 0;
  double width = 0;
  uint32_t colour = 0;
  if (extended) {
    if (!r.Has(28, 20)) return;
    style = r.U32(28);
    width = r.U32(32);
    colour = r.U32(40);
    // A pen drawn with a null brush draws nothing.
    if (r.U32(36) == kBsNull) style = (style & ~kPsStyleMask) | kPsNull;
  } else {
    if (!r.Has(12, 16)) return;
    style = r.U32(12);
    width = r.I32(16);
    colour = r.U32(24);
  }
  QPen pen(Colour(colour));
  pen.setWidthF(std::abs(width));
  pen.setStyle(PenPart(style, kPsStyleMask, kLineStyles));
  pen.setCapStyle(PenPart(style, kPsEndCapMask, kCapStyles));
  pen.setJoinStyle(PenPart(style, kPsJoinMask, kJoinStyles));
  *object = GdiObject{GdiObject::Kind::kPen, pen, {}, {}, {}};
}

void Player::CreateBrush(const Reader& r, uint32_t type) {
  GdiObject* object = HasParams(r, 4) ? Object(r.U32(8)) : nullptr;
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
    options.palette = Palette();
    QImage tile = ReadDib(r, *f, options);
    brush = tile.isNull() ? QBrush(QColor(128, 128, 128)) : QBrush(tile);
  } else {
    if (!r.Has(12, 12)) return;
    const uint32_t style = r.U32(12);
    const QColor colour = Colour(r.U32(16));
    if (style == kBsNull) {
      brush = QBrush(Qt::NoBrush);
    } else if (style == kBsHatched) {
      static constexpr Qt::BrushStyle kHatches[] = {
          Qt::HorPattern,   Qt::VerPattern,   Qt::BDiagPattern,
          Qt::FDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
      const uint32_t hatch = r.U32(20);
      brush = QBrush(colour, hatch < std::size(kHatches) ? kHatches[hatch]
                                                         : Qt::SolidPattern);
    } else {
      brush = QBrush(colour);
    }
  }
  *object = GdiObject{GdiObject::Kind::kBrush, {}, brush, {}, {}};
}

void Player::CreateFont(const Reader& r) {
  GdiObject* object = HasParams(r, 4) ? Object(r.U32(8)) : nullptr;
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
  *object = GdiObject{GdiObject::Kind::kFont, {}, {}, font, {}};
}

}  // namespace vg::decoders::decoders_internal::emf
