#include <QLinearGradient>
#include <algorithm>
#include <array>
#include <cmath>

#include "decoders/internal/emf_play.h"

// GradientFill: rectangles shaded along one axis, and triangles shaded
// between their corners' colours (Gouraud), as GDI fills them.
namespace vg::decoders::decoders_internal::emf {
namespace {

// The modes of a GradientFill.
enum : uint32_t {
  kGradientRectH = 0,
  kGradientRectV = 1,
  kGradientTriangle = 2,
};
// A vertex: x, y, then red, green, blue and alpha in 16 bits each.
constexpr size_t kVertexBytes = 16;
constexpr size_t kVerticesAt = 36;

}  // namespace

void Player::GradientFill(const Reader& r) {
  // Bounds, the vertex count, the count of rectangles or triangles, the
  // mode; the vertices; then the corners' indices of each shape.
  if (!HasParams(r, 28)) return;
  const uint32_t vertices = r.U32(24);
  const uint32_t shapes = r.U32(28);
  const uint32_t mode = r.U32(32);
  const size_t corners = mode == kGradientTriangle ? 3 : 2;
  if (mode > kGradientTriangle || vertices > r.size() / kVertexBytes ||
      shapes > r.size() / (4 * corners) ||
      !r.Has(kVerticesAt,
             size_t{vertices} * kVertexBytes + size_t{shapes} * 4 * corners)) {
    return;
  }
  const auto point = [&](uint32_t v) {
    return Pt(r, kVerticesAt + size_t{v} * kVertexBytes);
  };
  const auto colour = [&](uint32_t v) {
    const size_t at = kVerticesAt + size_t{v} * kVertexBytes + 8;
    return QColor(r.U16(at) >> 8, r.U16(at + 2) >> 8, r.U16(at + 4) >> 8);
  };
  ApplyTransform();
  const size_t indices_at = kVerticesAt + size_t{vertices} * kVertexBytes;
  for (uint32_t s = 0; s < shapes; ++s) {
    // One record may shade a great many shapes, each over the picture.
    if (deadline_->Passed()) RaiseDrawingTooLong();
    std::array<uint32_t, 3> v{};
    for (size_t k = 0; k < corners; ++k) {
      v[k] = r.U32(indices_at + (size_t{s} * corners + k) * 4);
      if (v[k] >= vertices) return;
    }
    if (mode == kGradientTriangle) {
      ShadeTriangle({point(v[0]), point(v[1]), point(v[2])},
                    {colour(v[0]), colour(v[1]), colour(v[2])});
      continue;
    }
    // From the first corner's colour to the second's, across or down.
    const QRectF box = QRectF(point(v[0]), point(v[1])).normalized();
    const QPointF from = point(v[0]);
    const QPointF to = mode == kGradientRectH
                           ? QPointF(point(v[1]).x(), from.y())
                           : QPointF(from.x(), point(v[1]).y());
    QLinearGradient gradient(from, to);
    gradient.setColorAt(0, colour(v[0]));
    gradient.setColorAt(1, colour(v[1]));
    QPainterPath area;
    area.addRect(box);
    Fill(area, QBrush(gradient));
  }
}

void Player::ShadeTriangle(const std::array<QPointF, 3>& corners,
                           const std::array<QColor, 3>& colours) {
  // Shaded pixel by pixel on the output, in the part of the picture the
  // triangle covers.
  const QTransform t = painter_.transform();
  std::array<QPointF, 3> p;
  for (size_t i = 0; i < 3; ++i) p[i] = t.map(corners[i]);
  const QRect covered = QPolygonF({p[0], p[1], p[2]})
                            .boundingRect()
                            .toAlignedRect()
                            .intersected(QRect(0, 0, painter_.device()->width(),
                                               painter_.device()->height()));
  const double area = (p[1].x() - p[0].x()) * (p[2].y() - p[0].y()) -
                      (p[2].x() - p[0].x()) * (p[1].y() - p[0].y());
  if (covered.isEmpty() || std::abs(area) < 1e-9) return;
  QImage shaded(covered.size(), QImage::Format_ARGB32_Premultiplied);
  if (shaded.isNull()) RaisePictureError(platform::kErrOutOfMemory);
  shaded.fill(Qt::transparent);
  for (int y = 0; y < covered.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(shaded.scanLine(y));
    const double py = covered.top() + y + 0.5;
    for (int x = 0; x < covered.width(); ++x) {
      const double px = covered.left() + x + 0.5;
      // The pixel's centre in barycentric weights of the corners.
      const double w1 = ((px - p[0].x()) * (p[2].y() - p[0].y()) -
                         (p[2].x() - p[0].x()) * (py - p[0].y())) /
                        area;
      const double w2 = ((p[1].x() - p[0].x()) * (py - p[0].y()) -
                         (px - p[0].x()) * (p[1].y() - p[0].y())) /
                        area;
      const double w0 = 1 - w1 - w2;
      if (w0 < 0 || w1 < 0 || w2 < 0) continue;
      const auto mix = [&](int (QColor::*channel)() const) {
        return static_cast<int>(std::lround(w0 * (colours[0].*channel)() +
                                            w1 * (colours[1].*channel)() +
                                            w2 * (colours[2].*channel)()));
      };
      row[x] = qRgb(mix(&QColor::red), mix(&QColor::green), mix(&QColor::blue));
    }
  }
  painter_.save();
  painter_.resetTransform();
  painter_.drawImage(covered.topLeft(), shaded);
  painter_.restore();
}

}  // namespace vg::decoders::decoders_internal::emf
