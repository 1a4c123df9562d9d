#include <QPainterPathStroker>
#include <algorithm>
#include <cmath>

#include "decoders/internal/emf_play.h"

// How the player strokes and fills what a record draws: lines never
// thinner than a pixel, and shapes far beyond the picture cut to it first.
namespace vg::decoders::decoders_internal::emf {

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
  if (state_.pen.style() == Qt::NoPen || !BeginRop2()) return;
  Stroke(path);
  EndRop2();
}

void Player::Stroke(const QPainterPath& path) {
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
  if (state_.brush.style() == Qt::NoBrush || !BeginRop2()) return;
  QPainterPath filled = path;
  filled.setFillRule(state_.fill_rule);
  Fill(filled, state_.brush);
  EndRop2();
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

}  // namespace vg::decoders::decoders_internal::emf
