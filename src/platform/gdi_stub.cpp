// The GDI stand-in: a locked table of handles to contexts and bitmaps, and
// the transfers between them. The lock covers only the table; a transfer
// takes shared references to its surfaces under the lock and does the pixel
// work after releasing it, so a bitmap deleted meanwhile by another thread
// stays alive until the transfer ends.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "image/image_view.h"
#include "image/stretch.h"
#include "platform/gdi.h"
#include "platform/internal/gdi_blit.h"

namespace vg::platform {
namespace {

using image::ConstImageView;
using image::ImageView;
using image::PixelFormat;

// Handles: low 16 bits = slot index + 1, bits 16..30 = the slot's generation.
// A freed slot goes to the back of a queue and is reused only once the table
// holds kMinSlotsBeforeReuse slots, so a handle value comes back only after
// tens of millions of deletions.
constexpr int32_t kMaxSlots = 0xFFFF;
constexpr size_t kMinSlotsBeforeReuse = 1024;
constexpr uint32_t kGenerationMask = 0x7FFF;
constexpr HWND kDesktopWindow = 0x00010010;

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};

struct Surface {
  uint8_t* bits = nullptr;  // lowest address
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride_bytes = 0;
  PixelFormat format = PixelFormat::kBgrx32;
  bool bottom_up = false;
  std::unique_ptr<uint8_t, FreeDeleter> owned_raw;
  std::vector<uint8_t> owned_vector;

  ImageView View() const {
    if (bottom_up) {
      return {bits + static_cast<ptrdiff_t>(height - 1) * stride_bytes, width,
              height, -static_cast<ptrdiff_t>(stride_bytes), format};
    }
    return {bits, width, height, stride_bytes, format};
  }
};

enum class Kind : uint8_t {
  kFree,
  kMemoryDc,
  kScreenDc,
  kBitmap,   // compatible or adopted
  kSection,  // DIB section
  kStock,    // the 1x1 bitmap of fresh contexts
};

struct Slot {
  uint32_t generation = 1;
  Kind kind = Kind::kFree;
  std::shared_ptr<Surface> surface;  // bitmaps
  HDC selected_in = 0;               // bitmaps: the context holding it
  HBITMAP selected = 0;              // memory contexts: the bitmap held
};

bool IsBitmapKind(Kind k) {
  return k == Kind::kBitmap || k == Kind::kSection || k == Kind::kStock;
}
bool IsDcKind(Kind k) { return k == Kind::kMemoryDc || k == Kind::kScreenDc; }

class Table {
 public:
  Table() {
    slots_.emplace_back();
    slots_[0].kind = Kind::kStock;
    stock_ = MakeHandle(0);
  }

  std::mutex& mutex() { return mutex_; }
  HBITMAP stock() const { return stock_; }

  // Returns the live slot of `h`, or nullptr. Caller holds the lock.
  Slot* Find(int32_t h) {
    if (h <= 0) return nullptr;
    const uint32_t index = (static_cast<uint32_t>(h) & 0xFFFF) - 1;
    const uint32_t generation = static_cast<uint32_t>(h) >> 16;
    if (index >= slots_.size()) return nullptr;
    Slot& s = slots_[index];
    if (s.kind == Kind::kFree || s.generation != generation) return nullptr;
    return &s;
  }
  Slot* FindDc(int32_t h) {
    Slot* s = Find(h);
    return s && IsDcKind(s->kind) ? s : nullptr;
  }
  Slot* FindBitmap(int32_t h) {
    Slot* s = Find(h);
    return s && IsBitmapKind(s->kind) ? s : nullptr;
  }

  // Returns the surface of the bitmap selected in memory context `hdc`, or
  // null (bad handle, screen context, stock bitmap). Caller holds the lock.
  std::shared_ptr<Surface> SurfaceOfDc(HDC hdc) {
    Slot* dc = Find(hdc);
    if (!dc || dc->kind != Kind::kMemoryDc) return nullptr;
    Slot* bmp = Find(dc->selected);
    return bmp ? bmp->surface : nullptr;
  }

  // Makes a new object; returns 0 when the table is full. May throw
  // std::bad_alloc. Caller holds the lock.
  int32_t Add(Kind kind, std::shared_ptr<Surface> surface) {
    uint32_t index;
    if (!free_.empty() &&
        (slots_.size() >= kMinSlotsBeforeReuse || slots_.size() >= kMaxSlots)) {
      index = free_.front();
      free_.pop_front();
    } else if (slots_.size() < kMaxSlots) {
      slots_.emplace_back();
      index = static_cast<uint32_t>(slots_.size() - 1);
    } else {
      return 0;
    }
    Slot& s = slots_[index];
    s.kind = kind;
    s.surface = std::move(surface);
    s.selected_in = 0;
    s.selected = 0;
    Count(kind, +1);
    return MakeHandle(index);
  }

  // Frees a live slot. Caller holds the lock. Returns the surface so that the
  // caller can drop the last reference outside the lock.
  std::shared_ptr<Surface> Remove(int32_t h) {
    const uint32_t index = (static_cast<uint32_t>(h) & 0xFFFF) - 1;
    Slot& s = slots_[index];
    Count(s.kind, -1);
    std::shared_ptr<Surface> surface = std::move(s.surface);
    const uint32_t next = (s.generation + 1) & kGenerationMask;
    s = Slot{};
    s.generation = next != 0 ? next : 1;
    try {
      free_.push_back(index);
    } catch (const std::bad_alloc&) {
      // The slot is simply never reused.
    }
    return surface;
  }

  GdiCounts counts() const { return counts_; }

 private:
  int32_t MakeHandle(uint32_t index) {
    return static_cast<int32_t>((slots_[index].generation << 16) | (index + 1));
  }
  void Count(Kind kind, int32_t delta) {
    switch (kind) {
      case Kind::kMemoryDc:
      case Kind::kScreenDc:
        counts_.contexts += delta;
        break;
      case Kind::kBitmap:
        counts_.bitmaps += delta;
        break;
      case Kind::kSection:
        counts_.sections += delta;
        break;
      default:
        break;
    }
  }

  std::mutex mutex_;
  std::vector<Slot> slots_;
  std::deque<uint32_t> free_;
  GdiCounts counts_{};
  HBITMAP stock_ = 0;
};

Table& GetTable() {
  // Never destroyed, so that objects released by other static destructors
  // at exit still find it.
  static Table* table = new Table;
  return *table;
}

bool WithinLimits(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxBitmapSide &&
         height <= kMaxBitmapSide && width * height <= kMaxBitmapPixels;
}

// Allocates a zero-filled surface (calloc: large blocks come straight from
// fresh zero pages). Returns null when out of memory.
std::shared_ptr<Surface> NewSurface(int32_t width, int32_t height,
                                    int32_t stride_bytes, PixelFormat format,
                                    bool bottom_up) {
  const size_t bytes =
      static_cast<size_t>(stride_bytes) * static_cast<size_t>(height);
  std::unique_ptr<uint8_t, FreeDeleter> memory(
      static_cast<uint8_t*>(std::calloc(bytes, 1)));
  if (!memory) return nullptr;
  auto surface = std::make_shared<Surface>();
  surface->bits = memory.get();
  surface->owned_raw = std::move(memory);
  surface->width = width;
  surface->height = height;
  surface->stride_bytes = stride_bytes;
  surface->format = format;
  surface->bottom_up = bottom_up;
  return surface;
}

// Registers a bitmap; returns 0 (and the surface is freed by the caller's
// reference going away) when the table is full.
HBITMAP AddBitmap(Kind kind, std::shared_ptr<Surface> surface) {
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  return table.Add(kind, std::move(surface));
}

// A rectangle of `w` x `h` starting at offset (dx, dy) in the destination
// and (sx, sy) in the source, after clipping.
struct Clip {
  int32_t dx, dy, sx, sy, w, h;
};

// Clips the transfer of a w x h rectangle from (sx, sy) to (dx, dy) against
// both surfaces (or only the destination when `src` is null). Returns false
// when nothing is left.
bool ClipTransfer(const Surface& dst, const Surface* src, int64_t dx,
                  int64_t dy, int64_t sx, int64_t sy, int64_t w, int64_t h,
                  Clip* out) {
  int64_t lo_x = std::max<int64_t>(0, -dx),
          hi_x = std::min<int64_t>(w, dst.width - dx);
  int64_t lo_y = std::max<int64_t>(0, -dy),
          hi_y = std::min<int64_t>(h, dst.height - dy);
  if (src) {
    lo_x = std::max(lo_x, -sx);
    hi_x = std::min<int64_t>(hi_x, src->width - sx);
    lo_y = std::max(lo_y, -sy);
    hi_y = std::min<int64_t>(hi_y, src->height - sy);
  }
  if (lo_x >= hi_x || lo_y >= hi_y) return false;
  *out = {static_cast<int32_t>(dx + lo_x),   static_cast<int32_t>(dy + lo_y),
          static_cast<int32_t>(sx + lo_x),   static_cast<int32_t>(sy + lo_y),
          static_cast<int32_t>(hi_x - lo_x), static_cast<int32_t>(hi_y - lo_y)};
  return true;
}

// Copies a part of a surface that is also the destination of a transfer, so
// that overlapping rectangles read the picture as it was before.
bool CopyOut(const ConstImageView& part, std::vector<uint8_t>* storage,
             ConstImageView* copy) {
  const int32_t bpp = image::BytesPerPixel(part.format);
  const size_t row = static_cast<size_t>(part.width) * bpp;
  try {
    storage->resize(row * static_cast<size_t>(part.height));
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t y = 0; y < part.height; ++y) {
    std::memcpy(storage->data() + row * y, part.Row(y), row);
  }
  *copy = {storage->data(), part.width, part.height,
           static_cast<ptrdiff_t>(row), part.format};
  return true;
}

// Looks up the surfaces of a transfer. `src_out` is left null when the
// operation does not read the source.
bool LookUpTransfer(HDC dst, HDC src, bool reads_source,
                    std::shared_ptr<Surface>* dst_out,
                    std::shared_ptr<Surface>* src_out) {
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  *dst_out = table.SurfaceOfDc(dst);
  if (!*dst_out) return false;
  if (reads_source) {
    *src_out = table.SurfaceOfDc(src);
    if (!*src_out) return false;
  }
  return true;
}

}  // namespace

HDC CreateCompatibleDC(HDC hdc) {
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  if (hdc != 0 && !table.FindDc(hdc)) return 0;
  try {
    const HDC dc = table.Add(Kind::kMemoryDc, nullptr);
    if (dc != 0) table.Find(dc)->selected = table.stock();
    return dc;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

bool DeleteDC(HDC hdc) {
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  Slot* dc = table.Find(hdc);
  if (!dc || dc->kind != Kind::kMemoryDc) return false;
  if (Slot* bmp = table.Find(dc->selected); bmp && bmp->kind != Kind::kStock) {
    bmp->selected_in = 0;
  }
  table.Remove(hdc);
  return true;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  Slot* dc = table.Find(hdc);
  Slot* bmp = table.FindBitmap(object);
  if (!dc || dc->kind != Kind::kMemoryDc || !bmp) return 0;
  const HBITMAP previous = dc->selected;
  if (previous == object) return previous;
  if (bmp->kind != Kind::kStock && bmp->selected_in != 0) return 0;
  if (Slot* old = table.Find(previous); old && old->kind != Kind::kStock) {
    old->selected_in = 0;
  }
  if (bmp->kind != Kind::kStock) bmp->selected_in = hdc;
  dc->selected = object;
  return previous;
}

bool DeleteObject(HGDIOBJ object) {
  std::shared_ptr<Surface> doomed;  // freed after the lock is released
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  Slot* bmp = table.FindBitmap(object);
  if (!bmp || bmp->kind == Kind::kStock || bmp->selected_in != 0) return false;
  doomed = table.Remove(object);
  return true;
}

int32_t GetObjectA(HGDIOBJ object, int32_t cb, void* out) {
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  Slot* bmp = table.FindBitmap(object);
  if (!bmp) return 0;
  constexpr int32_t kSize = sizeof(BITMAP);
  if (out == nullptr) return kSize;
  if (cb < kSize) return 0;
  BITMAP record{};
  if (bmp->kind == Kind::kStock) {
    record = {0, 1, 1, 2, 1, 1, 0};
  } else {
    const Surface& s = *bmp->surface;
    record.bmWidth = s.width;
    record.bmHeight = s.height;
    record.bmWidthBytes = s.stride_bytes;
    record.bmPlanes = 1;
    record.bmBitsPixel =
        static_cast<uint16_t>(image::BytesPerPixel(s.format) * 8);
  }
  std::memcpy(out, &record, kSize);
  return kSize;
}

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* bmi, uint32_t usage,
                         void** bits, int32_t section, uint32_t /*offset*/) {
  if (bits) *bits = nullptr;
  if (hdc != 0) {
    Table& table = GetTable();
    std::lock_guard lock(table.mutex());
    if (!table.FindDc(hdc)) return 0;
  }
  if (!bmi || usage != DIB_RGB_COLORS || section != 0) return 0;
  const BITMAPINFOHEADER& header = bmi->bmiHeader;
  if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biPlanes != 1 ||
      header.biBitCount != 24 || header.biCompression != BI_RGB) {
    return 0;
  }
  const int64_t width = header.biWidth;
  const int64_t height = header.biHeight < 0 ? -int64_t{header.biHeight}
                                             : int64_t{header.biHeight};
  if (!WithinLimits(width, height)) return 0;
  const auto stride = static_cast<int32_t>((width * 3 + 3) & ~int64_t{3});
  try {
    std::shared_ptr<Surface> surface =
        NewSurface(static_cast<int32_t>(width), static_cast<int32_t>(height),
                   stride, PixelFormat::kBgr24, header.biHeight > 0);
    if (!surface) return 0;
    uint8_t* memory = surface->bits;
    const HBITMAP handle = AddBitmap(Kind::kSection, std::move(surface));
    if (handle != 0 && bits) *bits = memory;
    return handle;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int32_t width, int32_t height) {
  {
    Table& table = GetTable();
    std::lock_guard lock(table.mutex());
    if (!table.FindDc(hdc)) return 0;
  }
  if (!WithinLimits(width, height)) return 0;
  try {
    std::shared_ptr<Surface> surface = NewSurface(
        width, height, width * 4, PixelFormat::kBgrx32, /*bottom_up=*/false);
    if (!surface) return 0;
    return AddBitmap(Kind::kBitmap, std::move(surface));
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

HBITMAP CreateBitmapFromPixels(int32_t width, int32_t height,
                               std::vector<uint8_t>&& bgrx_top_down,
                               int32_t stride_bytes) {
  if (!WithinLimits(width, height)) return 0;
  if (stride_bytes < int64_t{width} * 4) return 0;
  if (bgrx_top_down.size() <
      static_cast<uint64_t>(stride_bytes) * static_cast<uint64_t>(height)) {
    return 0;
  }
  try {
    auto surface = std::make_shared<Surface>();
    surface->width = width;
    surface->height = height;
    surface->stride_bytes = stride_bytes;
    surface->format = PixelFormat::kBgrx32;
    surface->bottom_up = false;
    Table& table = GetTable();
    std::lock_guard lock(table.mutex());
    // Reserve the handle before taking the pixels, so that a failure leaves
    // the caller's vector alone.
    const HBITMAP handle = table.Add(Kind::kBitmap, surface);
    if (handle == 0) return 0;
    surface->owned_vector = std::move(bgrx_top_down);
    surface->bits = surface->owned_vector.data();
    return handle;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

bool GetSurface(HGDIOBJ bitmap, SurfaceView* out) {
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  Slot* bmp = table.FindBitmap(bitmap);
  if (!bmp || !bmp->surface || !out) return false;
  const Surface& s = *bmp->surface;
  *out = {s.bits,
          s.width,
          s.height,
          s.stride_bytes,
          image::BytesPerPixel(s.format),
          s.bottom_up};
  return true;
}

bool BitBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src,
            int32_t sx, int32_t sy, uint32_t rop) {
  if (!gdi_internal::IsRasterOperation(rop) || w < 0 || h < 0) return false;
  const bool reads_source = gdi_internal::ReadsSource(rop);
  std::shared_ptr<Surface> d, s;
  if (!LookUpTransfer(dst, src, reads_source, &d, &s)) return false;
  Clip c;
  if (!ClipTransfer(*d, s.get(), x, y, sx, sy, w, h, &c)) return true;
  const ImageView to = d->View().Sub(c.dx, c.dy, c.w, c.h);
  ConstImageView from{};
  std::vector<uint8_t> staging;
  if (s) {
    from = image::AsConst(s->View().Sub(c.sx, c.sy, c.w, c.h));
    if (s == d && !CopyOut(from, &staging, &from)) return false;
  }
  gdi_internal::BlitPixels(from, to, rop);
  return true;
}

bool StretchBltArea(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h,
                    HDC src, double sx, double sy, double sw, double sh) {
  if (w < 0 || h < 0) return false;
  std::shared_ptr<Surface> d, s;
  if (!LookUpTransfer(dst, src, true, &d, &s)) return false;
  if (!(sw > 0 && sh > 0 && sx >= 0 && sy >= 0 && sx + sw <= s->width &&
        sy + sh <= s->height)) {
    return false;
  }
  if (w == 0 || h == 0) return true;
  ConstImageView from = image::AsConst(s->View());
  std::vector<uint8_t> staging;
  if (s == d && !CopyOut(from, &staging, &from)) return false;
  return image::StretchCopy(from, d->View(), x, y, w, h,
                            image::SourceArea{sx, sy, sw, sh});
}

bool StretchBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src,
                int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop) {
  if (!gdi_internal::IsRasterOperation(rop) || w < 0 || h < 0 || sw < 0 ||
      sh < 0) {
    return false;
  }
  const bool reads_source = gdi_internal::ReadsSource(rop);
  if (!reads_source) return BitBlt(dst, x, y, w, h, 0, 0, 0, rop);
  std::shared_ptr<Surface> d, s;
  if (!LookUpTransfer(dst, src, true, &d, &s)) return false;
  if (sx < 0 || sy < 0 || int64_t{sx} + sw > s->width ||
      int64_t{sy} + sh > s->height) {
    return false;
  }
  if (w == 0 || h == 0 || sw == 0 || sh == 0) return true;
  if (sw == w && sh == h) return BitBlt(dst, x, y, w, h, src, sx, sy, rop);

  ConstImageView from = image::AsConst(s->View().Sub(sx, sy, sw, sh));
  std::vector<uint8_t> staging;
  if (s == d && !CopyOut(from, &staging, &from)) return false;
  const ImageView to = d->View();
  if ((rop >> 16) == (SRCCOPY >> 16)) {
    return image::StretchCopy(from, to, x, y, w, h);
  }
  // Other operations: scale the visible part into a scratch picture of the
  // destination's format, then combine it with the destination.
  Clip c;
  if (!ClipTransfer(*d, nullptr, x, y, 0, 0, w, h, &c)) return true;
  std::vector<uint8_t> scratch;
  const int32_t bpp = image::BytesPerPixel(d->format);
  try {
    scratch.resize(static_cast<size_t>(c.w) * bpp * static_cast<size_t>(c.h));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const ImageView part{scratch.data(), c.w, c.h,
                       static_cast<ptrdiff_t>(c.w) * bpp, d->format};
  if (!image::StretchCopy(from, part, x - c.dx, y - c.dy, w, h)) {
    return false;
  }
  gdi_internal::BlitPixels(image::AsConst(part), to.Sub(c.dx, c.dy, c.w, c.h),
                           rop);
  return true;
}

HWND GetDesktopWindow() { return kDesktopWindow; }

HDC GetDC(HWND window) {
  if (window != 0 && window != kDesktopWindow) return 0;
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  try {
    return table.Add(Kind::kScreenDc, nullptr);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int32_t ReleaseDC(HWND window, HDC hdc) {
  if (window != 0 && window != kDesktopWindow) return 0;
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  Slot* dc = table.Find(hdc);
  if (!dc || dc->kind != Kind::kScreenDc) return 0;
  table.Remove(hdc);
  return 1;
}

GdiCounts GdiObjectCounts() {
  Table& table = GetTable();
  std::lock_guard lock(table.mutex());
  return table.counts();
}

}  // namespace vg::platform
