#include <optional>
#include <utility>

#include "decoders/internal/emf_dib.h"
#include "decoders/internal/emf_play.h"

namespace vg::decoders::decoders_internal::emf {
namespace {

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

std::optional<Blit> BlitOf(const Reader& r, uint32_t type) {
  Blit blit;
  switch (type) {
    case kStretchDiBits:
      if (!r.Has(0, 80)) return std::nullopt;
      blit.dest = QRectF(r.I32(24), r.I32(28), r.I32(72), r.I32(76));
      blit.source = QRectF(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
      blit.op = r.U32(68);
      break;
    case kSetDiBitsToDevice:
      // Drawn unscaled, when its bits hold the whole bitmap; a band of
      // its scan lines is skipped.
      if (!r.Has(0, 76)) return std::nullopt;
      blit.source = QRectF(r.I32(32), r.I32(36), r.I32(40), r.I32(44));
      blit.dest = QRectF(QPointF(r.I32(24), r.I32(28)), blit.source.size());
      blit.op = kRop3SrcCopy << 16;
      break;
    default:  // BitBlt and its kin, which share its first 100 bytes
      if (!r.Has(0, 100)) return std::nullopt;
      blit.dest = QRectF(r.I32(24), r.I32(28), r.I32(32), r.I32(36));
      blit.op = r.U32(40);
      blit.source =
          QRectF(r.I32(44), r.I32(48), blit.dest.width(), blit.dest.height());
      if (type != kBitBlt && type != kMaskBlt && r.Has(100, 8)) {
        blit.source.setSize(QSizeF(r.I32(100), r.I32(104)));
      }
      break;
  }
  return blit;
}

// Makes the pixels of `image` that are `transparent` clear.
void ClearColour(QRgb transparent, QImage* image) {
  for (int y = 0; y < image->height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image->scanLine(y));
    for (int x = 0; x < image->width(); ++x) {
      if (row[x] == transparent) row[x] = 0;
    }
  }
}

// Reads the mask of a MaskBlt or PlgBlt, 1 bits white; null when the
// record has none.
QImage ReadMask(const Reader& r, uint32_t type) {
  std::optional<DibFields> f = MaskFieldsOf(r, type);
  if (!f || f->cb_bmi == 0) return {};
  DibOptions options;
  options.two_colours = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
  return ReadDib(r, *f, options);
}

// Clears the pixels of `source` in `image` whose mask bit is not
// `drawn_bit`; the mask's pixel for the source's first one is at
// (mask_x, mask_y), and bits beyond the mask are 0.
void KeepMasked(const QImage& mask, int64_t mask_x, int64_t mask_y,
                const QRectF& source, bool drawn_bit, QImage* image) {
  const QRect area = source.toAlignedRect().intersected(image->rect());
  const int64_t mask_dx = mask_x - area.left();
  const int64_t mask_dy = mask_y - area.top();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(image->scanLine(y));
    const int64_t my = y + mask_dy;
    for (int x = area.left(); x <= area.right(); ++x) {
      const int64_t mx = x + mask_dx;
      const bool set =
          mx >= 0 && my >= 0 && mx < mask.width() && my < mask.height() &&
          qRed(mask.pixel(static_cast<int>(mx), static_cast<int>(my))) != 0;
      if (set != drawn_bit) row[x] = 0;
    }
  }
}

}  // namespace

bool Player::MaskOut(const Reader& r, uint32_t rop4, const QRectF& source,
                     QImage* image) {
  // MAKEROP4: the background operation (mask bit 0) in the high byte, the
  // foreground one's index below it.
  const uint32_t fore = (rop4 >> 16) & 0xFF;
  const uint32_t back = rop4 >> 24;
  const bool copy_on_set = fore == kRop3SrcCopy && back == kRop3DstCopy;
  const bool copy_on_clear = fore == kRop3DstCopy && back == kRop3SrcCopy;
  if (!copy_on_set && !copy_on_clear) return false;
  const QImage mask = ReadMask(r, kMaskBlt);
  if (mask.isNull()) return false;
  KeepMasked(mask, r.I32(100), r.I32(104), source, copy_on_set, image);
  return true;
}

void Player::PlgBlt(const Reader& r) {
  // Where the source's top left, top right and bottom left corners go; the
  // source; its mask's corner.
  if (!r.Has(0, 140)) return;
  const QPointF corner = Pt(r, 24);
  const QPointF along = Pt(r, 32) - corner;
  const QPointF down = Pt(r, 40) - corner;
  const QRectF source(r.I32(48), r.I32(52), r.I32(56), r.I32(60));
  if (source.width() <= 0 || source.height() <= 0) return;
  std::optional<DibFields> f = DibFieldsOf(r, kPlgBlt);
  if (!f) return;
  DibOptions options;
  options.palette = Palette();
  QImage image = ReadDib(r, *f, options);
  if (image.isNull()) return;
  // Its 1 bits draw the source; its 0 bits leave what lies below.
  if (const QImage mask = ReadMask(r, kPlgBlt); !mask.isNull()) {
    KeepMasked(mask, r.I32(112), r.I32(116), source, true, &image);
  }
  const QRectF shown = source.intersected(QRectF(image.rect()));
  if (shown.isEmpty()) return;
  // The source's pixels onto the parallelogram: (u, v) from its top left
  // goes to corner + u along + v down, in source sizes.
  const QTransform place(along.x() / source.width(), along.y() / source.width(),
                         down.x() / source.height(), down.y() / source.height(),
                         corner.x(), corner.y());
  ApplyTransform();
  const QTransform t = place * painter_.transform();
  if (!Finite(t.m11()) || !Finite(t.m12()) || !Finite(t.m21()) ||
      !Finite(t.m22()) || !Finite(t.dx()) || !Finite(t.dy())) {
    return;
  }
  // Reduced, its pixels are averaged; enlarged, each stays a square.
  const double across = std::hypot(t.m11(), t.m12());
  const double below = std::hypot(t.m21(), t.m22());
  const QRectF drawn = shown.translated(-source.topLeft());
  painter_.save();
  painter_.setTransform(t);
  painter_.setRenderHint(QPainter::SmoothPixmapTransform,
                         across < 1 || below < 1);
  QPainterPath area;
  area.addRect(drawn);
  if (FarOutside(area, 0)) {
    // A texture, which Fill cuts to the picture first.
    QBrush texture(image.copy(shown.toAlignedRect()));
    texture.setTransform(QTransform::fromTranslate(drawn.left(), drawn.top()));
    Fill(area, texture);
  } else {
    painter_.drawImage(drawn, image, shown);
  }
  painter_.restore();
}

void Player::Bitmap(const Reader& r, uint32_t type) {
  std::optional<Blit> blit = BlitOf(r, type);
  if (!blit) return;
  const uint32_t op = blit->op;
  ApplyTransform();
  std::optional<DibFields> f = DibFieldsOf(r, type);
  DibOptions options;
  // The blend function: operation, flags, constant alpha, alpha format.
  const uint32_t constant_alpha = (op >> 16) & 0xFF;
  options.alpha = type == kAlphaBlend && ((op >> 24) & kAcSrcAlpha) != 0;
  options.band = type == kSetDiBitsToDevice;
  options.palette = Palette();
  QImage image;
  if (f) image = ReadDib(r, *f, options);
  if (image.isNull()) {
    if (f && f->cb_bmi != 0) return;  // a bitmap of a kind not drawn here
    // No source: the operation paints the destination alone.
    const QRectF dest = blit->dest.normalized();
    if (op == kPatCopy) painter_.fillRect(dest, state_.brush);
    if (op == kBlackness) painter_.fillRect(dest, Qt::black);
    if (op == kWhiteness) painter_.fillRect(dest, Qt::white);
    return;
  }
  if ((type == kStretchDiBits || type == kSetDiBitsToDevice) &&
      blit->source.height() > 0) {
    // Its source rectangle counts rows from the bottom of the bitmap.
    blit->source.moveTop(image.height() - blit->source.top() -
                         blit->source.height());
  }
  std::optional<QPainter::CompositionMode> mode =
      QPainter::CompositionMode_SourceOver;
  double opacity = 1;
  if (type == kAlphaBlend) {
    opacity = constant_alpha / 255.0;
  } else if (type == kTransparentBlt) {
    ClearColour(ColorRef(op).rgb(), &image);
  } else if (type != kMaskBlt || !MaskOut(r, op, blit->source, &image)) {
    mode = BitmapMode((op >> 16) & 0xFF);
  }
  if (!mode || opacity <= 0) return;
  DrawBitmap(std::move(image), *blit, *mode, opacity);
}

void Player::DrawBitmap(QImage image, const Blit& blit,
                        QPainter::CompositionMode mode, double opacity) {
  const QRectF& dest = blit.dest;
  QRectF source = blit.source;
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
  const bool raster_op = mode != QPainter::CompositionMode_SourceOver;
  const QRectF drawn = painter_.transform().mapRect(dest.normalized());
  painter_.save();
  painter_.setCompositionMode(mode);
  painter_.setOpacity(opacity);
  painter_.setRenderHint(QPainter::Antialiasing, !raster_op);
  painter_.setRenderHint(QPainter::SmoothPixmapTransform,
                         !raster_op && (drawn.width() < source.width() ||
                                        drawn.height() < source.height()));
  painter_.drawImage(dest.normalized(), image, source);
  painter_.restore();
}

}  // namespace vg::decoders::decoders_internal::emf
