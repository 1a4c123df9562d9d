#include "decoders/internal/emf_play.h"

namespace vg::decoders::decoders_internal::emf {

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

}  // namespace vg::decoders::decoders_internal::emf
