#include "thumbnail/make.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "decoders/load_picture.h"
#include "jpeg/librairie_graphique.h"
#include "platform/checked.h"
#include "platform/error.h"
#include "platform/gdi.h"
#include "thumbnail/drawing_area.h"

namespace vg::thumbnail {
namespace {

using platform::ScopedBitmapDC;

std::string WidthText(double width) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", width);
  return text;
}

}  // namespace

platform::PicturePtr LoadPicture(const std::u16string& path, double width) {
  decoders::DecodeHint hint;
  if (width >= 1 && width <= kMaxSidePx) {
    hint.target_width_px = static_cast<int32_t>(std::ceil(width));
  }
  return decoders::LoadPicture(path, hint);
}

int32_t ProportionalHeight(double picture_width, double picture_height,
                           double width) {
  double ratio = platform::CheckedDivide(picture_width, width);
  return platform::RoundToInt32(platform::CheckedDivide(picture_height, ratio));
}

std::string CheckHeight(double width, int64_t height) {
  if (height > kMaxSidePx) {
    return "too tall for width " + WidthText(width) + ": " +
           std::to_string(height) + " pixels";
  }
  if (height <= 0) {
    return "too flat for width " + WidthText(width) + ": " +
           std::to_string(height) + " pixels high";
  }
  return {};
}

Geometry GeometryFor(double width, int32_t height) {
  Geometry g;
  g.area_width = AreaSide(static_cast<float>(width));
  g.area_height = AreaSide(static_cast<float>(height));
  g.draw_width = TwipsToPixels(width * kTwipsPerPixel);
  g.draw_height = TwipsToPixels(
      platform::CheckedMul32(height, static_cast<int32_t>(kTwipsPerPixel)));
  return g;
}

Thumbnail Render(const platform::Picture& picture, const Geometry& geometry) {
  Thumbnail thumb;
  const int32_t w = geometry.area_width;
  const int32_t h = geometry.area_height;
  if (w <= 0 || h <= 0) return thumb;
  platform::HDC screen = platform::GetDC(0);
  platform::HBITMAP surface = platform::CreateCompatibleBitmap(screen, w, h);
  platform::ReleaseDC(0, screen);
  if (surface == 0) {
    throw platform::Error::Standard(platform::kErrOutOfMemory, "Render");
  }
  thumb.picture = platform::MakePicture(surface, w, h);
  const bool covered = geometry.draw_width >= w && geometry.draw_height >= h;
  if (!covered) FillWithBackColour(surface);
  platform::SurfaceView source{};
  if (geometry.draw_width > 0 && geometry.draw_height > 0 &&
      picture.Handle() != 0 &&
      platform::GetSurface(picture.Handle(), &source)) {
    ScopedBitmapDC dst(surface);
    ScopedBitmapDC src(picture.Handle());
    if (!dst.ok() || !src.ok() ||
        !platform::StretchPicture(dst.get(), 0, 0, geometry.draw_width,
                                  geometry.draw_height, src.get(), picture)) {
      throw platform::Error::Standard(platform::kErrOutOfMemory, "Render");
    }
  }
  thumb.dib.CreateFromPicture(thumb.picture->Handle());
  return thumb;
}

std::string NothingCaptured(int32_t height) {
  return height <= 0 ? "zero height: no height has been computed"
                     : "the scaled picture could not be captured";
}

std::string Write(const dib::aDIBSection& dib, const std::u16string& path,
                  const InputGuard& inputs) {
  if (inputs.Contains(path)) {
    // A destination equal to the origin would otherwise replace the photo.
    return "not written: it would replace an original picture";
  }
  try {
    if (!jpeg::SaveDibAsJpeg(dib, path, kQuality))
      return "could not be written";
  } catch (const std::exception& e) {
    return DescribeFailure(e);
  }
  return {};
}

std::string DescribeFailure(const std::exception& e) {
  if (const auto* error = dynamic_cast<const platform::Error*>(&e)) {
    return error->description();
  }
  return e.what();
}

}  // namespace vg::thumbnail
