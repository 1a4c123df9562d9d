#include "app/picture_box.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/checked.h"
#include "platform/error.h"
#include "thumbnail/drawing_area.h"

namespace vg::app {
namespace {

constexpr uint32_t kSrcCopy = 0xCC0020;

using platform::ScopedBitmapDC;
using thumbnail::AreaSide;
using thumbnail::TwipsToPixels;

void ValidateSide(float size_px) {
  if (!(size_px >= 0) || size_px > static_cast<float>(kMaxBoxSidePx)) {
    throw platform::Error::Standard(platform::kErrInvalidPropertyValue,
                                    "PictureBox");
  }
}

platform::HBITMAP NewBitmap(int32_t w, int32_t h) {
  platform::HDC screen = platform::GetDC(0);
  platform::HBITMAP bitmap = platform::CreateCompatibleBitmap(screen, w, h);
  platform::ReleaseDC(0, screen);
  if (bitmap == 0) {
    throw platform::Error::Standard(platform::kErrOutOfMemory, "PictureBox");
  }
  return bitmap;
}

}  // namespace

PictureBox::PictureBox(float width_px, float height_px, bool auto_size)
    : width_(width_px), height_(height_px), auto_size_(auto_size) {}

PictureBox::~PictureBox() { FreeLayer(); }

void PictureBox::FreeLayer() {
  if (layer_ != 0) platform::DeleteObject(layer_);
  layer_ = 0;
  layer_width_ = layer_height_ = 0;
}

int32_t PictureBox::area_width() const { return AreaSide(width_); }
int32_t PictureBox::area_height() const { return AreaSide(height_); }

void PictureBox::set_width(float width_px) {
  ValidateSide(width_px);
  width_ = width_px;
  ++revision_;
}

void PictureBox::set_height(float height_px) {
  ValidateSide(height_px);
  height_ = height_px;
  ++revision_;
}

void PictureBox::set_picture(platform::PicturePtr picture) {
  bool same_as_kept = picture && picture.get() == last_kept_ &&
                      last_kept_revision_ == revision_ && layer_ != 0;
  picture_ = std::move(picture);
  if (auto_size_ && picture_) {
    width_ = static_cast<float>(picture_->Width());
    height_ = static_cast<float>(picture_->Height());
  }
  has_drawings_ = false;
  // A kept image set back as the picture shows what the box already shows;
  // anything else is drawn again when it is next needed.
  if (!same_as_kept) FreeLayer();
  last_kept_ = nullptr;
  ++revision_;
}

void PictureBox::DrawBackground(platform::HBITMAP target) {
  thumbnail::FillWithBackColour(target);
  if (!picture_ || picture_->Handle() == 0) return;
  platform::SurfaceView source{};
  if (!platform::GetSurface(picture_->Handle(), &source)) return;
  ScopedBitmapDC dst(target);
  ScopedBitmapDC src(picture_->Handle());
  if (!dst.ok() || !src.ok()) return;
  // The picture at its natural size: its logical size, which may be larger
  // than its pixels when it was decoded at a reduced scale. What falls
  // outside the box is clipped away by the blit.
  platform::StretchPicture(dst.get(), 0, 0, picture_->Width(),
                           picture_->Height(), src.get(), *picture_);
}

void PictureBox::EnsureLayer(bool covered) {
  int32_t w = area_width();
  int32_t h = area_height();
  if (layer_ != 0 && layer_width_ == w && layer_height_ == h) return;
  if (w == 0 || h == 0) {
    FreeLayer();
    return;
  }
  platform::HBITMAP fresh = NewBitmap(w, h);
  if (!covered) {
    DrawBackground(fresh);
    if (layer_ != 0) {
      // A resized box keeps what was drawn, at the top-left corner.
      ScopedBitmapDC dst(fresh);
      ScopedBitmapDC src(layer_);
      platform::BitBlt(dst.get(), 0, 0, std::min(w, layer_width_),
                       std::min(h, layer_height_), src.get(), 0, 0, kSrcCopy);
    }
  }
  FreeLayer();
  layer_ = fresh;
  layer_width_ = w;
  layer_height_ = h;
}

platform::HBITMAP PictureBox::KeptBitmap() {
  EnsureLayer(false);
  return layer_;
}

platform::PicturePtr PictureBox::kept_image() {
  EnsureLayer(false);
  if (layer_ == 0) return nullptr;
  platform::HBITMAP copy = NewBitmap(layer_width_, layer_height_);
  {
    ScopedBitmapDC dst(copy);
    ScopedBitmapDC src(layer_);
    platform::BitBlt(dst.get(), 0, 0, layer_width_, layer_height_, src.get(), 0,
                     0, kSrcCopy);
  }
  platform::PicturePtr picture =
      platform::MakePicture(copy, layer_width_, layer_height_);
  last_kept_ = picture.get();
  last_kept_revision_ = revision_;
  return picture;
}

void PictureBox::PaintPicture(const platform::Picture& picture, double x_twips,
                              double y_twips, double width_twips,
                              double height_twips) {
  if (!(width_twips >= 0) || !(height_twips >= 0)) {
    throw platform::Error::InvalidCall("PictureBox.PaintPicture");
  }
  int32_t x = TwipsToPixels(x_twips);
  int32_t y = TwipsToPixels(y_twips);
  int32_t w = TwipsToPixels(width_twips);
  int32_t h = TwipsToPixels(height_twips);
  if (w == 0 || h == 0 || picture.Handle() == 0) return;
  platform::SurfaceView source{};
  if (!platform::GetSurface(picture.Handle(), &source)) {
    throw platform::Error::Standard(platform::kErrInvalidPicture,
                                    "PictureBox.PaintPicture");
  }
  bool covered = x <= 0 && y <= 0 && int64_t{x} + w >= area_width() &&
                 int64_t{y} + h >= area_height();
  EnsureLayer(covered);
  if (layer_ == 0) return;
  ScopedBitmapDC dst(layer_);
  ScopedBitmapDC src(picture.Handle());
  if (!dst.ok() || !src.ok()) {
    throw platform::Error::Standard(platform::kErrOutOfMemory,
                                    "PictureBox.PaintPicture");
  }
  platform::StretchPicture(dst.get(), x, y, w, h, src.get(), picture);
  has_drawings_ = true;
  ++revision_;
}

}  // namespace vg::app
