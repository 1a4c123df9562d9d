#include <optional>

#include "decoders/internal/emf_play.h"

namespace vg::decoders::decoders_internal::emf {
namespace {

// The rectangles of the RGNDATA of `bytes` at `at` of a record, as a path;
// nothing when the record does not hold them.
std::optional<QPainterPath> RegionAt(const Reader& r, size_t at,
                                     uint32_t bytes) {
  // Its header: size, type, count, size of the rectangles, bounds.
  constexpr uint32_t kHeader = 32;
  if (bytes < kHeader || !r.Has(at, bytes)) return std::nullopt;
  const uint32_t count = r.U32(at + 8);
  if (count > (bytes - kHeader) / 16) return std::nullopt;
  QPainterPath region;
  for (uint32_t i = 0; i < count; ++i) {
    region.addRect(ToRectF(ReadRect(r, at + kHeader + size_t{i} * 16)));
  }
  return region;
}

}  // namespace

bool Player::PlayClip(const Reader& r, uint32_t type) {
  switch (type) {
    case kIntersectClipRect:
    case kExcludeClipRect:
      if (HasParams(r, 16)) {
        ApplyTransform();
        QPainterPath box;
        box.addRect(ToRectF(ReadRect(r, 8)));
        CombineClip(painter_.transform().map(box),
                    type == kIntersectClipRect ? kRgnAnd : kRgnDiff);
      }
      return true;
    case kExtSelectClipRgn:
      ClipRegion(r);
      return true;
    case kOffsetClipRgn:
      if (HasParams(r, 8) && state_.clip) {
        ApplyTransform();
        const QTransform& t = painter_.transform();
        SetClip(state_.clip->translated(t.map(Pt(r, 8)) - t.map(QPointF())));
      }
      return true;
    case kFillRgn:
    case kFrameRgn:
    case kInvertRgn:
    case kPaintRgn:
      PaintRegion(r, type);
      return true;
    case kSelectClipPath:
      if (HasParams(r, 4) && !path_.isEmpty()) {
        ApplyTransform();
        QPainterPath clip = path_;
        clip.setFillRule(state_.fill_rule);
        CombineClip(painter_.transform().map(clip), r.U32(8));
        path_ = QPainterPath();
      }
      return true;
    default:
      return false;
  }
}

void Player::PaintRegion(const Reader& r, uint32_t type) {
  // After the bounds: the region's size, then the brush and, for a frame,
  // its width and height, then the region, in logical units.
  if (!HasParams(r, 20)) return;
  const size_t at = type == kFrameRgn ? 40 : type == kFillRgn ? 32 : 28;
  const std::optional<QPainterPath> region = RegionAt(r, at, r.U32(24));
  if (!region) return;
  ApplyTransform();
  if (type == kInvertRgn) {
    painter_.save();
    painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
    Fill(*region, Qt::black);
    painter_.restore();
    return;
  }
  const std::optional<QBrush> brush =
      type == kPaintRgn ? state_.brush : BrushOf(r.U32(28));
  if (!brush || brush->style() == Qt::NoBrush) return;
  if (type != kFrameRgn) {
    Fill(*region, *brush);
    return;
  }
  // A frame: what the region loses when each of its points must have the
  // frame's width and height of region around it.
  if (!HasParams(r, 28)) return;
  const double w = std::abs(r.I32(32));
  const double h = std::abs(r.I32(36));
  QPainterPath inner = *region;
  for (const QPointF corner :
       {QPointF(w, h), QPointF(-w, h), QPointF(w, -h), QPointF(-w, -h)}) {
    inner = inner.intersected(region->translated(corner));
  }
  Fill(region->subtracted(inner), *brush);
}

std::optional<QBrush> Player::BrushOf(uint32_t index) {
  if (index & kStockObject) {
    const uint32_t stock = index & ~kStockObject;
    if (stock > kNullBrush && stock != kDcBrush) return std::nullopt;
    const QBrush selected = state_.brush;
    SelectObject(index);
    const QBrush brush = state_.brush;
    state_.brush = selected;
    return brush;
  }
  const GdiObject* object = Object(index);
  if (object == nullptr || object->kind != GdiObject::Kind::kBrush) {
    return std::nullopt;
  }
  return object->brush;
}

void Player::ClipRegion(const Reader& r) {
  if (!r.Has(8, 8)) return;
  const uint32_t mode = r.U32(12);
  const std::optional<QPainterPath> found = RegionAt(r, 16, r.U32(8));
  if (!found) {
    if (mode == kRgnCopy) SetClip(std::nullopt);
    return;
  }
  // The rectangles are in device units.
  CombineClip(device_to_output_.map(*found), mode);
}

void Player::CombineClip(const QPainterPath& area, uint32_t mode) {
  // Computed here, never read back from the painter: its clipPath() of a
  // clip made of several operations leaks memory (Qt 6.4).
  const QPainterPath current = CurrentClip();
  switch (mode) {
    case kRgnAnd:
      SetClip(current.intersected(area));
      break;
    case kRgnOr:
      SetClip(current.united(area));
      break;
    case kRgnXor:
      SetClip(current.united(area).subtracted(current.intersected(area)));
      break;
    case kRgnDiff:
      SetClip(current.subtracted(area));
      break;
    case kRgnCopy:
      SetClip(area);
      break;
    default:
      break;
  }
}

void Player::SetClip(std::optional<QPainterPath> area) {
  state_.clip = std::move(area);
  const QTransform transform = painter_.transform();
  painter_.resetTransform();
  if (state_.clip) {
    painter_.setClipPath(*state_.clip, Qt::ReplaceClip);
  } else {
    painter_.setClipping(false);
  }
  painter_.setTransform(transform);
}

QPainterPath Player::CurrentClip() const {
  if (state_.clip) return *state_.clip;
  QPainterPath all;
  all.addRect(
      QRectF(0, 0, painter_.device()->width(), painter_.device()->height()));
  return all;
}

}  // namespace vg::decoders::decoders_internal::emf
