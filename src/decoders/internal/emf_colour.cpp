#include <array>

#include "decoders/internal/emf_dib.h"
#include "decoders/internal/emf_play.h"

// Colours a record names through the selected palette, and the raster
// operations pens and brushes draw with.
namespace vg::decoders::decoders_internal::emf {
namespace {

// The default palette: the twenty colours every display keeps.
constexpr std::array<QRgb, 20> kDefaultPaletteEntries = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080,
    0xFF800080, 0xFF008080, 0xFFC0C0C0, 0xFFC0DCC0, 0xFFA6CAF0,
    0xFFFFFBF0, 0xFFA0A0A4, 0xFF808080, 0xFFFF0000, 0xFF00FF00,
    0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};

// Writes `count` entries (red, green, blue, flags) from `at` of `r` into
// `palette` from `start`: no more than `r` holds, and, unless `grow`, no
// further than the palette's end. A palette so never holds more entries than
// the record that made it, whatever the records that change it say.
void PutEntries(const Reader& r, size_t at, size_t start, size_t count,
                bool grow, std::vector<QRgb>* palette) {
  count = std::min(count, r.Has(at, 0) ? (r.size() - at) / 4 : 0);
  if (grow && palette->size() < start + count) palette->resize(start + count);
  if (start >= palette->size()) return;
  count = std::min(count, palette->size() - start);
  for (size_t i = 0; i < count; ++i) {
    const size_t e = at + 4 * i;
    (*palette)[start + i] = qRgb(r.U8(e), r.U8(e + 1), r.U8(e + 2));
  }
}

// How each raster operation of a pen or brush combines with what lies
// below, by its number from kR2Black; the default, kR2CopyPen, paints.
constexpr std::array<QPainter::CompositionMode, 16> kRop2Modes = {
    QPainter::RasterOp_ClearDestination,
    QPainter::RasterOp_NotSourceAndNotDestination,
    QPainter::RasterOp_NotSourceAndDestination,
    QPainter::RasterOp_NotSource,
    QPainter::RasterOp_SourceAndNotDestination,
    QPainter::RasterOp_NotDestination,
    QPainter::RasterOp_SourceXorDestination,
    QPainter::RasterOp_NotSourceOrNotDestination,
    QPainter::RasterOp_SourceAndDestination,
    QPainter::RasterOp_NotSourceXorDestination,
    QPainter::CompositionMode_Destination,
    QPainter::RasterOp_NotSourceOrDestination,
    QPainter::CompositionMode_SourceOver,
    QPainter::RasterOp_SourceOrNotDestination,
    QPainter::RasterOp_SourceOrDestination,
    QPainter::RasterOp_SetDestination};
static_assert(kRop2Modes[kR2CopyPen - kR2Black] ==
                  QPainter::CompositionMode_SourceOver &&
              kRop2Modes[kR2XorPen - kR2Black] ==
                  QPainter::RasterOp_SourceXorDestination);

}  // namespace

bool Player::PlayPalette(const Reader& r, uint32_t type) {
  switch (type) {
    case kCreatePalette:
      // The handle, then a LOGPALETTE: version, count, entries.
      if (GdiObject* object = HasParams(r, 8) ? Object(r.U32(8)) : nullptr) {
        *object = GdiObject{};
        object->kind = GdiObject::Kind::kPalette;
        PutEntries(r, 16, 0, r.U16(14), true, &object->palette);
      }
      return true;
    case kSetPaletteEntries:
      // The handle, the first entry, the count, the entries.
      if (GdiObject* object = HasParams(r, 12) ? Object(r.U32(8)) : nullptr;
          object != nullptr && object->kind == GdiObject::Kind::kPalette) {
        PutEntries(r, 20, r.U32(12), r.U32(16), false, &object->palette);
      }
      return true;
    case kResizePalette:
      // A palette only shrinks here: an index past its end reads its first
      // entry, where a grown one would read the black it was given.
      if (GdiObject* object = HasParams(r, 8) ? Object(r.U32(8)) : nullptr;
          object != nullptr && object->kind == GdiObject::Kind::kPalette &&
          r.U32(12) < object->palette.size()) {
        object->palette.resize(r.U32(12));
      }
      return true;
    case kSelectPalette:
      if (HasParams(r, 4)) {
        const uint32_t index = r.U32(8);
        const GdiObject* object = Object(index);
        if (index == (kStockObject | kDefaultPalette)) {
          state_.palette = 0;
        } else if (object != nullptr &&
                   object->kind == GdiObject::Kind::kPalette) {
          state_.palette = index;
        }
      }
      return true;
    case kRealizePalette:
      return true;
    default:
      return false;
  }
}

std::span<const QRgb> Player::Palette() const {
  const GdiObject* object =
      state_.palette < objects_.size() ? &objects_[state_.palette] : nullptr;
  if (object == nullptr || state_.palette == 0 ||
      object->kind != GdiObject::Kind::kPalette) {
    return kDefaultPaletteEntries;
  }
  return object->palette;
}

QColor Player::Colour(uint32_t ref) const {
  if ((ref >> 24) != kPaletteIndexFlag) return ColorRef(ref);
  return QColor(PaletteEntry(Palette(), ref & 0xFFFF));
}

bool Player::BeginRop2() {
  const uint32_t rop2 = state_.rop2;
  if (rop2 == kR2Nop) return false;
  if (rop2 < kR2Black || rop2 > kR2White || rop2 == kR2CopyPen) return true;
  painter_.setCompositionMode(kRop2Modes[rop2 - kR2Black]);
  return true;
}

void Player::EndRop2() {
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

}  // namespace vg::decoders::decoders_internal::emf
