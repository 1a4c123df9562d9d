// File: platform/gdi.h
//
// The drawing services of the host system, as far as this program needs them:
// memory device contexts, device-dependent ("compatible") bitmaps, 24-bit DIB
// sections and rectangle copies between them, under their Win32 names so that
// code written against those services reads the same here.
//
// What it abstracts. A table of 32-bit handles (0 = none) to three kinds of
// object: device contexts, bitmaps and DIB sections. A handle carries a
// generation count, so a handle whose object was deleted, a number never
// handed out, or a handle of the wrong kind makes the call fail (0 / false);
// it never crashes and never reaches another object. The table holds at most
// 65 535 live objects (Windows allows 10 000 per process by default); a
// handle value comes back only after tens of millions of deletions. Pixels
// live in plain
// memory owned by the bitmap:
//   - DIB sections: 24 bits per pixel, B,G,R, rows of (w*3+3)&~3 bytes,
//     bottom-up (a negative height asks for top-down rows, as on Windows);
//   - compatible bitmaps and adopted decoder buffers: the "screen format",
//     32 bits per pixel B,G,R,X, top-down. X is padding: blits write 0xFF
//     there (or copy it between two 32-bit surfaces) and never read it.
// Coordinates are always picture coordinates with the origin at the top-left
// pixel, whatever the row order in memory, so a blit never flips a picture.
// Every call is thread-safe; the table is locked only to look objects up, and
// the pixel work of a blit runs outside the lock, so threads that work on
// their own objects do not wait for each other.
//
// What it does not abstract. There is no real screen, window, pen, brush,
// palette, font, region or clipping: a screen context (GetDC) only serves as
// the reference for CreateCompatibleDC / CreateCompatibleBitmap, and blits to
// or from it fail. The pattern of the raster operations is the stock white
// brush of a fresh context. A context that still holds its stock 1x1 bitmap
// has no surface: blits to or from it fail. Two threads drawing into the SAME
// bitmap at once race, as they do on Windows.
//
//   HDC dc = CreateCompatibleDC(0);
//   HBITMAP bmp = CreateCompatibleBitmap(dc, 640, 480);
//   HGDIOBJ old = SelectObject(dc, bmp);
//   BitBlt(dc, 0, 0, 640, 480, other_dc, 0, 0, SRCCOPY);
//   SelectObject(dc, old);
//   DeleteObject(bmp);
//   DeleteDC(dc);
//
// Not for pixel loops: those take a SurfaceView (GetSurface) once and work on
// the bytes directly.
#ifndef VG_PLATFORM_GDI_H_
#define VG_PLATFORM_GDI_H_

#include <cstdint>
#include <vector>

namespace vg::platform {

using HDC = int32_t;
using HBITMAP = int32_t;
using HGDIOBJ = int32_t;
using HWND = int32_t;

// Raster operations (ternary codes with their Windows values). Any code
// 0x00XXYYYY is accepted; its XX byte is the truth table over pattern (white),
// source and destination, so every one of the 256 operations works.
inline constexpr uint32_t SRCCOPY = 0x00CC0020;    // dest = source
inline constexpr uint32_t SRCPAINT = 0x00EE0086;   // dest = source OR dest
inline constexpr uint32_t SRCAND = 0x008800C6;     // dest = source AND dest
inline constexpr uint32_t SRCINVERT = 0x00660046;  // dest = source XOR dest
inline constexpr uint32_t SRCERASE = 0x00440328;   // dest = source AND NOT dest
inline constexpr uint32_t NOTSRCCOPY = 0x00330008;   // dest = NOT source
inline constexpr uint32_t NOTSRCERASE = 0x001100A6;  // dest = NOT (src OR dest)
inline constexpr uint32_t MERGEPAINT = 0x00BB0226;  // dest = NOT source OR dest
inline constexpr uint32_t DSTINVERT = 0x00550009;   // dest = NOT dest
inline constexpr uint32_t BLACKNESS = 0x00000042;   // dest = 0
inline constexpr uint32_t WHITENESS = 0x00FF0062;   // dest = all ones
inline constexpr uint32_t PATCOPY = 0x00F00021;     // dest = pattern (white)

inline constexpr uint32_t DIB_RGB_COLORS = 0;  // CreateDIBSection usage
inline constexpr uint32_t BI_RGB = 0;          // uncompressed
inline constexpr int32_t OBJ_BITMAP = 0;       // BITMAP::bmType

// Limits of one bitmap: larger requests fail (return 0) before allocating.
inline constexpr int32_t kMaxBitmapSide = 1 << 20;    // pixels per side
inline constexpr int64_t kMaxBitmapPixels = 1 << 28;  // width * height

#pragma pack(push, 1)
// The Windows BITMAP record that GetObjectA fills (24 bytes, little-endian).
struct BITMAP {
  int32_t bmType;        // always 0
  int32_t bmWidth;       // pixels
  int32_t bmHeight;      // pixels, positive
  int32_t bmWidthBytes;  // bytes from one row to the next
  uint16_t bmPlanes;     // 1
  uint16_t bmBitsPixel;  // 24 (DIB section), 32 (compatible), 1 (stock)
  // A 32-bit pointer field that cannot hold an address of this 64-bit
  // platform: always 0 here. Use GetSurface for the pixels.
  uint32_t bmBits;
};
#pragma pack(pop)
static_assert(sizeof(BITMAP) == 24);

// The Windows BITMAPINFOHEADER (40 bytes, little-endian).
struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // > 0 bottom-up rows, < 0 top-down rows
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

// The Windows BITMAPINFO: a header and (unused at 24 bits) one colour entry.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

// --- Device contexts -------------------------------------------------------

// Creates a memory device context compatible with `hdc` (0 = the screen, or
// any live context). It starts with the stock 1x1 bitmap selected. Returns 0
// on a bad `hdc` or when out of memory. Free it with DeleteDC.
HDC CreateCompatibleDC(HDC hdc);

// Deletes a memory context; a bitmap selected in it stays alive and becomes
// free to select elsewhere. Fails on a screen context (use ReleaseDC).
bool DeleteDC(HDC hdc);

// Selects a bitmap or DIB section into a memory context and returns the
// bitmap it replaced (never 0 on success: a fresh context holds the stock
// bitmap). Returns 0, changing nothing, for a bad context or object, or a
// bitmap already selected in another context. Selecting the bitmap the
// context already holds returns it.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);

// Deletes a bitmap or DIB section and frees its pixels. Fails (false) for a
// bitmap still selected in a context, for the stock bitmap and for any
// handle that is not a live bitmap.
bool DeleteObject(HGDIOBJ object);

// Fills `out` with the 24-byte BITMAP record of a bitmap. Returns the bytes
// written (24), or 24 when `out` is null (the size needed); 0, leaving `out`
// untouched, for a handle that is not a live bitmap or `cb` < 24.
int32_t GetObjectA(HGDIOBJ object, int32_t cb, void* out);

// --- Bitmaps --------------------------------------------------------------

// Creates a DIB section from `bmi`: only 24 bits per pixel, BI_RGB, one
// plane, usage DIB_RGB_COLORS, `section` 0 (no file mapping; `offset` is then
// ignored). Width > 0; height > 0 for bottom-up rows, < 0 for top-down.
// The pixel memory (rows of (w*3+3)&~3 bytes, zero-filled) belongs to the
// section; its address goes to *bits. `hdc` may be 0 or any live context.
// Returns the handle, or 0 with *bits = nullptr when the header is refused,
// the size is over the limits above, or memory runs out.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* bmi, uint32_t usage,
                         void** bits, int32_t section, uint32_t offset);

// Creates a w x h bitmap in the screen format (32 bits, top-down, B,G,R,X),
// zero-filled (black). `hdc` must be a live context. Returns 0 for a bad
// context, a size <= 0 or over the limits, or when out of memory.
HBITMAP CreateCompatibleBitmap(HDC hdc, int32_t width, int32_t height);

// Adopts decoded pixels as a screen-format bitmap without copying them:
// `bgrx_top_down` holds `height` rows, `stride_bytes` apart (>= width * 4),
// 4 bytes per pixel B,G,R,X. On success the vector is moved from and the
// bitmap owns the memory; on failure (bad sizes, a buffer shorter than
// stride_bytes * height, over the limits) it returns 0 and leaves the vector
// untouched.
HBITMAP CreateBitmapFromPixels(int32_t width, int32_t height,
                               std::vector<uint8_t>&& bgrx_top_down,
                               int32_t stride_bytes);

// A read/write view of a bitmap's pixels for our own pixel code.
struct SurfaceView {
  uint8_t* bits;            // lowest address: the first row in memory
  int32_t width;            // pixels
  int32_t height;           // pixels, positive
  int32_t stride_bytes;     // from one row in memory to the next
  int32_t bytes_per_pixel;  // 3 (B,G,R) or 4 (B,G,R,X)
  bool bottom_up;           // true: the first row in memory is the bottom row
};

// Fills `out` for a live bitmap or DIB section. The view stays valid while
// the bitmap lives (until its DeleteObject). Returns false, leaving `out`
// untouched, for any other handle and for the stock bitmap (no pixels).
bool GetSurface(HGDIOBJ bitmap, SurfaceView* out);

// --- Transfers -------------------------------------------------------------

// Copies the w x h rectangle at (sx, sy) of the bitmap selected in `src` to
// (x, y) of the bitmap selected in `dst`, combining source and destination
// by `rop`, with format conversion between 24- and 32-bit storage. The
// rectangle is clipped to both surfaces. `src` is not looked at when `rop`
// does not read the source. A zero w or h copies nothing and succeeds.
// Returns false for bad contexts, a context without a surface, a negative
// w or h (no mirroring), or a code that is not a raster operation.
bool BitBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src,
            int32_t sx, int32_t sy, uint32_t rop);

// Copies the sw x sh source rectangle at (sx, sy) into the w x h destination
// rectangle at (x, y), scaled by the kernel of image/stretch.h: Lanczos-3
// along an axis that shrinks, bilinear along one that grows, a plain copy
// along one that keeps its size. The result is clipped to the destination
// surface; uncovered destination pixels keep their value. The source
// rectangle must lie inside the source surface. Sizes must be >= 0 (zero
// copies nothing; no mirroring). Any raster operation; SRCCOPY is the fast
// path. Equal sizes make it a BitBlt.
bool StretchBlt(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h, HDC src,
                int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop);

// As StretchBlt with SRCCOPY, from a source rectangle whose edges may fall
// between pixels (a picture decoded at a reduced scale covers its last
// column and row of pixels only in part): the w x h rectangle at (x, y)
// shows exactly the sw x sh area at (sx, sy), sampled where each of its
// pixels stands. The area must lie inside the source surface and be more
// than 0 wide and high; whole-pixel areas give StretchBlt's bytes.
bool StretchBltArea(HDC dst, int32_t x, int32_t y, int32_t w, int32_t h,
                    HDC src, double sx, double sy, double sw, double sh);

// --- The screen --------------------------------------------------------------

// Returns the handle of the desktop window (a fixed non-zero value).
HWND GetDesktopWindow();

// Returns a new screen context for the desktop window (or for 0); 0 for any
// other window. Release it with ReleaseDC.
HDC GetDC(HWND window);

// Releases a context from GetDC; returns 1, or 0 for anything else.
int32_t ReleaseDC(HWND window, HDC hdc);

// --- Accounting ------------------------------------------------------------

// Live objects by kind (the stock bitmap is not counted).
struct GdiCounts {
  int32_t contexts;  // memory and screen contexts
  int32_t bitmaps;   // compatible and adopted bitmaps
  int32_t sections;  // DIB sections
  bool operator==(const GdiCounts&) const = default;
};

// Returns the number of live objects of each kind in the whole process.
GdiCounts GdiObjectCounts();

// A memory device context with one bitmap selected for the length of a scope.
class ScopedBitmapDC {
 public:
  explicit ScopedBitmapDC(HBITMAP bitmap) : dc_(CreateCompatibleDC(0)) {
    if (dc_ != 0) old_ = SelectObject(dc_, bitmap);
  }
  ~ScopedBitmapDC() {
    if (dc_ != 0) {
      SelectObject(dc_, old_);
      DeleteDC(dc_);
    }
  }
  ScopedBitmapDC(const ScopedBitmapDC&) = delete;
  ScopedBitmapDC& operator=(const ScopedBitmapDC&) = delete;
  HDC get() const { return dc_; }
  // Returns true when the bitmap really is selected.
  bool ok() const { return dc_ != 0 && old_ != 0; }

 private:
  HDC dc_;
  HGDIOBJ old_ = 0;
};

}  // namespace vg::platform

#endif  // VG_PLATFORM_GDI_H_
