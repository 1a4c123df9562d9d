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
      if (HasParams(r, 16)) {
        ApplyTransform();
        painter_.setClipRect(ToRectF(ReadRect(r, 8)), Qt::IntersectClip);
      }
      return true;
    case kExcludeClipRect:
      if (HasParams(r, 16)) {
        ApplyTransform();
        QPainterPath excluded;
        excluded.addRect(ToRectF(ReadRect(r, 8)));
        painter_.setClipPath(CurrentClip().subtracted(excluded),
                             Qt::ReplaceClip);
      }
      return true;
    case kExtSelectClipRgn:
      ClipRegion(r);
      return true;
    case kOffsetClipRgn:
      if (HasParams(r, 8) && painter_.hasClipping()) {
        ApplyTransform();
        painter_.setClipPath(CurrentClip().translated(Pt(r, 8)),
                             Qt::ReplaceClip);
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
        const uint32_t mode = r.U32(8);
        QPainterPath clip = path_;
        clip.setFillRule(state_.fill_rule);
        painter_.setClipPath(
            clip, mode == kRgnCopy ? Qt::ReplaceClip : Qt::IntersectClip);
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
    if (mode == kRgnCopy) painter_.setClipping(false);
    return;
  }
  const QPainterPath& region = *found;
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

}  // namespace vg::decoders::decoders_internal::emf
