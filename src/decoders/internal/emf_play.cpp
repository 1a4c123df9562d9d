#include "decoders/internal/emf_play.h"

#include <algorithm>
#include <cmath>

namespace vg::decoders::decoders_internal::emf {

Player::Player(const Header& header, QImage* image, const Deadline* deadline)
    : header_(header),
      deadline_(deadline),
      painter_(image),
      emf_plus_(&painter_, &device_to_output_, deadline, &fonts_) {
  objects_.resize(size_t{header.handles} + 1);
  const QRectF frame = DeviceFrame(header);
  device_to_output_ = QTransform::fromTranslate(-frame.left(), -frame.top()) *
                      QTransform::fromScale(image->width() / frame.width(),
                                            image->height() / frame.height());
  px_per_mm_x_ = PxPerMm(header.device_cx, header.mm_cx);
  px_per_mm_y_ = PxPerMm(header.device_cy, header.mm_cy);
  painter_.setRenderHint(QPainter::Antialiasing, true);
  state_.font.request.face = u"Arial";
}

Player::~Player() {
  for (; !saved_.empty(); saved_.pop_back()) painter_.restore();
}

bool Player::Play(const Reader& r, uint32_t type) {
  if (type == kComment && HasParams(r, 4)) {
    const std::span<const uint8_t> data = CommentData(r);
    if (EmfPlus::IsEmfPlus(data)) emf_plus_.Play(data);
    return true;
  }
  // An EMF+ picture draws with EMF records only between GetDC and the next
  // EMF+ record.
  if (type != kEof && emf_plus_.DrawsPicture()) return true;
  switch (type) {
    case kEof:
      return false;
    case kExtTextOutW:
    case kExtTextOutA:
      Text(r, type == kExtTextOutW);
      return true;
    case kBitBlt:
    case kStretchBlt:
    case kMaskBlt:
    case kAlphaBlend:
    case kTransparentBlt:
    case kSetDiBitsToDevice:
    case kStretchDiBits:
      Bitmap(r, type);
      return true;
    case kPlgBlt:
      PlgBlt(r);
      return true;
    case kGradientFill:
      GradientFill(r);
      return true;
    default:
      break;
  }
  // The records no concern plays change nothing drawn here.
  static_cast<void>(PlayMapping(r, type) || PlayAttribute(r, type) ||
                    PlayObject(r, type) || PlayPalette(r, type) ||
                    PlayClip(r, type) || PlayPath(r, type) ||
                    PlayShape(r, type));
  return true;
}

bool Player::PlayMapping(const Reader& r, uint32_t type) {
  switch (type) {
    case kSetWindowExtEx:
    case kSetViewportExtEx:
      if (HasParams(r, 8)) {
        (type == kSetWindowExtEx ? state_.window_ext : state_.viewport_ext) =
            QSizeF(r.I32(8), r.I32(12));
      }
      return true;
    case kSetWindowOrgEx:
    case kSetViewportOrgEx:
      if (HasParams(r, 8)) {
        (type == kSetWindowOrgEx ? state_.window_org : state_.viewport_org) =
            Pt(r, 8);
      }
      return true;
    case kScaleViewportExtEx:
    case kScaleWindowExtEx:
      if (HasParams(r, 16) && r.I32(12) != 0 && r.I32(20) != 0) {
        QSizeF& ext = type == kScaleViewportExtEx ? state_.viewport_ext
                                                  : state_.window_ext;
        ext = QSizeF(ext.width() * r.I32(8) / r.I32(12),
                     ext.height() * r.I32(16) / r.I32(20));
      }
      return true;
    case kSetMapMode:
      if (HasParams(r, 4)) state_.map_mode = r.I32(8);
      return true;
    case kSetWorldTransform:
    case kModifyWorldTransform:
      ModifyWorld(r, type);
      return true;
    case kSaveDc:
      Save();
      return true;
    case kRestoreDc:
      if (HasParams(r, 4)) Restore(r.I32(8));
      return true;
    default:
      return false;
  }
}

bool Player::PlayAttribute(const Reader& r, uint32_t type) {
  if (!HasParams(r, 4)) {
    return type == kSetBkMode || type == kSetPolyFillMode ||
           type == kSetTextAlign || type == kSetTextColor ||
           type == kSetBkColor || type == kSetArcDirection || type == kSetRop2;
  }
  const uint32_t value = r.U32(8);
  switch (type) {
    case kSetBkMode:
      state_.bk_opaque = value == kBkOpaque;
      return true;
    case kSetPolyFillMode:
      state_.fill_rule =
          value == kWindingFill ? Qt::WindingFill : Qt::OddEvenFill;
      return true;
    case kSetTextAlign:
      state_.text_align = value;
      return true;
    case kSetTextColor:
      state_.text_color = Colour(value);
      return true;
    case kSetBkColor:
      state_.bk_color = Colour(value);
      return true;
    case kSetArcDirection:
      state_.clockwise = value == kArcClockwise;
      return true;
    case kSetRop2:
      state_.rop2 = value;
      return true;
    default:
      return false;
  }
}

void Player::ModifyWorld(const Reader& r, uint32_t type) {
  if (!HasParams(r, 24)) return;
  double m[6];
  for (int i = 0; i < 6; ++i) m[i] = r.F32(8 + 4 * size_t(i));
  if (!std::all_of(m, m + 6, Finite)) return;
  const QTransform x(m[0], m[1], m[2], m[3], m[4], m[5]);
  const uint32_t mode =
      type == kSetWorldTransform ? kMwtSet : (HasParams(r, 28) ? r.U32(32) : 0);
  if (mode == kMwtIdentity) state_.world = QTransform();
  if (mode == kMwtLeftMultiply) state_.world = x * state_.world;
  if (mode == kMwtRightMultiply) state_.world = state_.world * x;
  if (mode == kMwtSet) state_.world = x;
}

namespace {

// The mapping modes of a fixed unit, y upward: one logical unit is
// `millimetres` / `parts` mm.
struct FixedMapping {
  int mode;
  double millimetres;
  double parts;
};
constexpr FixedMapping kFixedMappings[] = {
    {kMmLoMetric, 1, 10},              // 0.1 mm
    {kMmHiMetric, 1, 100},             // 0.01 mm
    {kMmLoEnglish, kMmPerInch, 100},   // 0.01 inch
    {kMmHiEnglish, kMmPerInch, 1000},  // 0.001 inch
    {kMmTwips, kMmPerInch, 1440},      // 1/1440 inch
};

}  // namespace

QTransform Player::Page() const {
  double sx = 1;
  double sy = 1;
  for (const FixedMapping& fixed : kFixedMappings) {
    if (state_.map_mode == fixed.mode) {
      sx = px_per_mm_x_ * fixed.millimetres / fixed.parts;
      sy = -px_per_mm_y_ * fixed.millimetres / fixed.parts;
    }
  }
  if (state_.map_mode == kMmIsotropic || state_.map_mode == kMmAnisotropic) {
    if (state_.window_ext.width() != 0 && state_.window_ext.height() != 0) {
      sx = state_.viewport_ext.width() / state_.window_ext.width();
      sy = state_.viewport_ext.height() / state_.window_ext.height();
    }
    if (state_.map_mode == kMmIsotropic) {
      const double s = std::min(std::abs(sx), std::abs(sy));
      sx = std::copysign(s, sx);
      sy = std::copysign(s, sy);
    }
  }
  return QTransform::fromTranslate(-state_.window_org.x(),
                                   -state_.window_org.y()) *
         QTransform::fromScale(sx, sy) *
         QTransform::fromTranslate(state_.viewport_org.x(),
                                   state_.viewport_org.y());
}

void Player::Save() {
  if (saved_.size() >= kMaxSavedStates) return;
  saved_.push_back(state_);
  painter_.save();
}

void Player::Restore(int32_t relative) {
  int64_t levels = relative < 0
                       ? -int64_t{relative}
                       : static_cast<int64_t>(saved_.size()) - relative + 1;
  if (levels <= 0 || levels > static_cast<int64_t>(saved_.size())) return;
  for (; levels > 0; --levels) {
    state_ = saved_.back();
    saved_.pop_back();
    painter_.restore();
  }
}

}  // namespace vg::decoders::decoders_internal::emf
