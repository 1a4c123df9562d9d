#include <cmath>
#include <cstdlib>
#include <vector>

#include "decoders/internal/emf_play.h"

namespace vg::decoders::decoders_internal::emf {

bool Player::PlayPath(const Reader& r, uint32_t type) {
  switch (type) {
    case kMoveToEx:
      if (HasParams(r, 8)) {
        state_.current = Pt(r, 8);
        if (in_path_) path_.moveTo(state_.current);
      }
      return true;
    case kLineTo:
      if (HasParams(r, 8)) LineTo(r);
      return true;
    case kBeginPath:
      in_path_ = true;
      path_ = QPainterPath();
      return true;
    case kEndPath:
      in_path_ = false;
      return true;
    case kCloseFigure:
      if (in_path_) path_.closeSubpath();
      return true;
    case kAbortPath:
      in_path_ = false;
      path_ = QPainterPath();
      return true;
    case kFillPath:
    case kStrokePath:
    case kStrokeAndFillPath:
      if (!in_path_) {
        ApplyTransform();
        if (type != kStrokePath) FillWith(path_);
        if (type != kFillPath) StrokeWith(path_);
        path_ = QPainterPath();
      }
      return true;
    default:
      return false;
  }
}

bool Player::PlayShape(const Reader& r, uint32_t type) {
  switch (type) {
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
      return true;
    case kPolyPolyline:
    case kPolyPolyline16:
    case kPolyPolygon:
    case kPolyPolygon16:
      PolyPoly(r, type == kPolyPolyline16 || type == kPolyPolygon16,
               type == kPolyPolygon || type == kPolyPolygon16);
      return true;
    case kEllipse:
    case kRectangle:
    case kRoundRect:
      if (HasParams(r, 16)) Box(r, type);
      return true;
    case kArc:
    case kChord:
    case kPie:
    case kArcTo:
      if (HasParams(r, 32)) ArcShape(r, type);
      return true;
    case kAngleArc:
      if (HasParams(r, 20)) AngleArc(r);
      return true;
    default:
      return false;
  }
}

void Player::LineTo(const Reader& r) {
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

void Player::Box(const Reader& r, uint32_t type) {
  const QRectF box = ToRectF(ReadRect(r, 8));
  QPainterPath figure;
  if (type == kEllipse) {
    figure.addEllipse(box);
  } else if (type == kRoundRect && HasParams(r, 24)) {
    figure.addRoundedRect(box, std::abs(r.I32(24)) / 2.0,
                          std::abs(r.I32(28)) / 2.0);
  } else {
    figure.addRect(box);
  }
  Emit(figure, true);
}

void Player::AngleArc(const Reader& r) {
  const QPointF c = Pt(r, 8);
  const double radius = r.U32(16);
  const double start = r.F32(20);
  const double sweep = r.F32(24);
  if (!Finite(start) || !Finite(sweep) || radius > 1e9) return;
  const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
  QPainterPath figure(state_.current);
  figure.arcTo(box, start, sweep);
  state_.current = figure.currentPosition();
  Emit(figure, false);
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

}  // namespace vg::decoders::decoders_internal::emf
