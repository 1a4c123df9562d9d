#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "decoders/internal/emf_play.h"

namespace vg::decoders::decoders_internal::emf {

void Player::Text(const Reader& r, bool wide) {
  if (!r.Has(36, 40)) return;
  QPointF ref = Pt(r, 36);
  const uint32_t chars = r.U32(44);
  const uint32_t off_string = r.U32(48);
  const uint32_t options = r.U32(52);
  const QRectF box = ToRectF(ReadRect(r, 56));
  const uint32_t off_dx = r.U32(72);
  const size_t unit = wide ? 2 : 1;
  if (chars == 0 || chars > r.size() || !r.Has(off_string, chars * unit)) {
    return;
  }
  std::u16string text;
  text.reserve(chars);
  for (uint32_t i = 0; i < chars; ++i) {
    text += wide ? r.U16(off_string + i * 2)
                 : static_cast<char16_t>(r.U8(off_string + i));
  }
  const Font& font = state_.font;
  double em = std::abs(font.height);
  if (font.height > 0) em = font.height / fonts_.CellPerEm(font.request);
  if (em == 0) em = kDefaultFontHeight;
  std::vector<double> advances;
  const size_t dx_step = (options & kEtoPdy) != 0 ? 8 : 4;
  if (off_dx != 0 && r.Has(off_dx, size_t{chars} * dx_step)) {
    advances.reserve(chars);
    for (uint32_t i = 0; i < chars; ++i) {
      advances.push_back(r.I32(off_dx + i * dx_step) / em);
    }
  }
  const TextOutline outline = fonts_.Layout(font.request, text, advances);
  ApplyTransform();
  if ((options & kEtoOpaque) != 0 && !box.isEmpty()) {
    painter_.fillRect(box, state_.bk_color);
  }
  if (state_.text_align & kTaUpdateCp) ref = state_.current;
  double dx = 0;
  if ((state_.text_align & kTaCenter) == kTaCenter) {
    dx = -outline.advance / 2;
  } else if (state_.text_align & kTaRight) {
    dx = -outline.advance;
  }
  double dy = outline.ascent;  // top
  if ((state_.text_align & kTaBaseline) == kTaBaseline) {
    dy = 0;
  } else if (state_.text_align & kTaBottom) {
    dy = -outline.descent;
  }
  // Glyphs stand upright on the output even where the logical y axis
  // points up.
  const bool flipped = painter_.transform().m22() < 0;
  const double y_sign = flipped ? -1 : 1;
  const QTransform place = QTransform::fromTranslate(dx, dy) *
                           QTransform::fromScale(em, em * y_sign) *
                           QTransform().rotate(-font.escapement_deg * y_sign) *
                           QTransform::fromTranslate(ref.x(), ref.y());
  if (state_.text_align & kTaUpdateCp) {
    // The next text starts where this one's pen stopped.
    state_.current = place.map(QPointF(outline.advance - dx, -dy));
  }
  painter_.save();
  if ((options & kEtoClipped) != 0 && !box.isEmpty()) {
    painter_.setClipRect(box, Qt::IntersectClip);
  }
  if (state_.bk_opaque && (options & kEtoOpaque) == 0 && outline.advance > 0) {
    QRectF cell(QPointF(0, -outline.ascent),
                QPointF(outline.advance, outline.descent));
    QPainterPath background;
    background.addRect(cell);
    Fill(place.map(background), state_.bk_color);
  }
  Fill(place.map(outline.path), state_.text_color);
  painter_.restore();
}

}  // namespace vg::decoders::decoders_internal::emf
