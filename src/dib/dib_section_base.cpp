#include "dib/dib_section_base.h"

#include <cstdint>
#include <utility>

#include "platform/error.h"

namespace vg::dib {
namespace {

namespace gdi = ::vg::platform;

int32_t RowBytes(int32_t width) {
  // In 64 bits, then checked: the row size is a signed 32-bit quantity.
  const int64_t bytes = (int64_t{width} * 3 + 3) & ~int64_t{3};
  if (int64_t{width} * 3 + 3 > INT32_MAX || int64_t{width} * 3 < INT32_MIN) {
    throw gdi::Error::Overflow(gdi::ProgramName());
  }
  return static_cast<int32_t>(bytes);
}

}  // namespace

DibSectionBase::DibSectionBase(DibSectionBase&& other) noexcept
    : hDib_(std::exchange(other.hDib_, 0)),
      hSavedBitmap_(std::exchange(other.hSavedBitmap_, 0)),
      hdc_(std::exchange(other.hdc_, 0)),
      bits_(std::exchange(other.bits_, nullptr)),
      tBitmapInfo(std::exchange(other.tBitmapInfo, {})) {}

DibSectionBase& DibSectionBase::operator=(DibSectionBase&& other) noexcept {
  if (this != &other) {
    ClearUp();
    hDib_ = std::exchange(other.hDib_, 0);
    hSavedBitmap_ = std::exchange(other.hSavedBitmap_, 0);
    hdc_ = std::exchange(other.hdc_, 0);
    bits_ = std::exchange(other.bits_, nullptr);
    tBitmapInfo = std::exchange(other.tBitmapInfo, {});
  }
  return *this;
}

int32_t DibSectionBase::BytesPerScanLine() const {
  return RowBytes(tBitmapInfo.biWidth);
}

gdi::HBITMAP DibSectionBase::MakeSection(int32_t lhDC, int32_t lWidth,
                                         int32_t lHeight, uint8_t** bits) {
  tBitmapInfo.biSize = sizeof(gdi::BITMAPINFOHEADER);
  tBitmapInfo.biWidth = lWidth;
  tBitmapInfo.biHeight = lHeight;
  tBitmapInfo.biPlanes = 1;
  tBitmapInfo.biBitCount = 24;
  tBitmapInfo.biCompression = gdi::BI_RGB;
  const int64_t image = int64_t{lHeight} * BytesPerScanLine();
  if (image > INT32_MAX || image < INT32_MIN) {
    throw gdi::Error::Overflow(gdi::ProgramName());
  }
  tBitmapInfo.biSizeImage = static_cast<uint32_t>(image);
  *bits = nullptr;
  // Every section of these classes is bottom-up with a positive size: a
  // negative height (top-down rows) or width is refused here rather than
  // handed to pixel code that counts rows from the bottom.
  if (lWidth <= 0 || lHeight <= 0) return 0;
  gdi::BITMAPINFO info{};
  info.bmiHeader = tBitmapInfo;
  void* memory = nullptr;
  const gdi::HBITMAP section =
      gdi::CreateDIBSection(lhDC, &info, gdi::DIB_RGB_COLORS, &memory, 0, 0);
  *bits = static_cast<uint8_t*>(memory);
  return section;
}

bool DibSectionBase::CreateDIB(int32_t lhDC, int32_t lWidth, int32_t lHeight,
                               int32_t& hDib) {
  // A section made for the caller belongs to the caller: the object neither
  // points at its pixels nor changes the size it reports while it holds a
  // section of its own (pixel code would then walk the wrong rows).
  if (hDib_ != 0) {
    hDib = 0;
    return false;
  }
  uint8_t* caller_bits = nullptr;
  hDib = MakeSection(lhDC, lWidth, lHeight, &caller_bits);
  return hDib != 0;
}

bool DibSectionBase::Create(int32_t lWidth, int32_t lHeight) {
  ClearUp();
  hdc_ = gdi::CreateCompatibleDC(0);
  if (hdc_ == 0) return false;
  // Raises error 6 with the new context still recorded; ClearUp deletes it.
  hDib_ = MakeSection(hdc_, lWidth, lHeight, &bits_);
  if (hDib_ != 0) {
    hSavedBitmap_ = gdi::SelectObject(hdc_, hDib_);
    if (hSavedBitmap_ != 0) return true;
    gdi::DeleteObject(hDib_);
    hDib_ = 0;
    bits_ = nullptr;
  }
  gdi::DeleteDC(hdc_);
  hdc_ = 0;
  return false;
}

void DibSectionBase::CreateFromBitmap(gdi::HBITMAP bitmap) {
  gdi::BITMAP record{};
  gdi::GetObjectA(bitmap, sizeof(record), &record);
  if (!Create(record.bmWidth, record.bmHeight)) return;
  const gdi::HWND window = gdi::GetDesktopWindow();
  const gdi::HDC screen = gdi::GetDC(window);
  if (screen == 0) return;
  const gdi::HDC source = gdi::CreateCompatibleDC(screen);
  gdi::ReleaseDC(window, screen);
  if (source == 0) return;
  const gdi::HGDIOBJ previous = gdi::SelectObject(source, bitmap);
  LoadPictureBlt(source, 0, 0, -1, -1, gdi::SRCCOPY);
  gdi::SelectObject(source, previous);
  gdi::DeleteDC(source);
}

void DibSectionBase::LoadPictureBlt(int32_t lhDC, int32_t lSrcLeft,
                                    int32_t lSrcTop, int32_t lSrcWidth,
                                    int32_t lSrcHeight, uint32_t eRop) {
  const int32_t w = lSrcWidth >= 0 ? lSrcWidth : Width();
  const int32_t h = lSrcHeight >= 0 ? lSrcHeight : Height();
  gdi::BitBlt(hdc_, 0, 0, w, h, lhDC, lSrcLeft, lSrcTop, eRop);
}

void DibSectionBase::PaintPicture(int32_t lhDC, int32_t lDestLeft,
                                  int32_t lDestTop, int32_t lDestWidth,
                                  int32_t lDestHeight, int32_t lSrcLeft,
                                  int32_t lSrcTop, uint32_t eRop) {
  const int32_t w = lDestWidth >= 0 ? lDestWidth : Width();
  const int32_t h = lDestHeight >= 0 ? lDestHeight : Height();
  gdi::BitBlt(lhDC, lDestLeft, lDestTop, w, h, hdc_, lSrcLeft, lSrcTop, eRop);
}

uintptr_t DibSectionBase::DIBSectionBitsPtr() const {
  return reinterpret_cast<uintptr_t>(bits_);
}

void DibSectionBase::ClearUp() noexcept {
  if (hdc_ != 0) {
    if (hDib_ != 0) {
      gdi::SelectObject(hdc_, hSavedBitmap_);
      gdi::DeleteObject(hDib_);
    }
    gdi::DeleteDC(hdc_);
  }
  hdc_ = 0;
  hDib_ = 0;
  hSavedBitmap_ = 0;
  bits_ = nullptr;
}

}  // namespace vg::dib
