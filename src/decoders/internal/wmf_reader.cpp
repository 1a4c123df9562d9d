#include "decoders/internal/wmf_reader.h"

#include <libwmf/api.h>
#include <libwmf/gd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/metafile_raster.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableBytes = 22;
constexpr size_t kHeaderBytes = 18;

// Record functions read before playing.
constexpr uint16_t kEof = 0x0000;
constexpr uint16_t kSetMapMode = 0x0103;
constexpr uint16_t kSetWindowOrg = 0x020B;
constexpr uint16_t kSetWindowExt = 0x020C;
constexpr uint16_t kSetViewportOrg = 0x020D;
constexpr uint16_t kSetViewportExt = 0x020E;
// Records that carry a device-independent bitmap, and where it starts
// among their parameters.
constexpr uint16_t kDibBitBlt = 0x0940;
constexpr uint16_t kDibStretchBlt = 0x0B41;
constexpr uint16_t kSetDibToDev = 0x0D33;
constexpr uint16_t kStretchDib = 0x0F43;
constexpr uint16_t kDibCreatePatternBrush = 0x0142;
constexpr uint16_t kCreatePenIndirect = 0x02FA;

constexpr int kMmText = 1;
constexpr int kMmIsotropic = 7;
constexpr int kMmAnisotropic = 8;

// libwmf's own device units: a placeable file is drawn in points, a plain
// one in its logical units (MM_TEXT) or on a viewport 1024 units wide.
constexpr double kPointsPerInch = 72.0;
constexpr double kDefaultViewportExt = 1024.0;

uint32_t Le(std::span<const uint8_t> bytes, size_t at, int length) {
  uint32_t v = 0;
  for (int i = length - 1; i >= 0; --i) v = v << 8 | bytes[at + i];
  return v;
}

int16_t Le16s(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<int16_t>(Le(bytes, at, 2));
}

struct Point {
  double x;
  double y;
};

// Returns the pixels of the bitmap a record's parameters hold at
// `dib_at`, or nothing when the record holds none; raises 481 when the
// bitmap claims more than the limits or than the record holds.
std::optional<int64_t> BitmapPixels(std::span<const uint8_t> params,
                                    size_t dib_at) {
  if (params.size() < dib_at + 16) return std::nullopt;
  std::span<const uint8_t> dib = params.subspan(dib_at);
  const uint32_t header = Le(dib, 0, 4);
  int64_t width = 0;
  int64_t height = 0;
  int64_t bits = 0;
  uint32_t compression = 0;
  if (header == 12) {
    width = Le(dib, 4, 2);
    height = Le(dib, 6, 2);
    bits = Le(dib, 10, 2);
  } else if (header >= 40 && dib.size() >= 40) {
    width = static_cast<int32_t>(Le(dib, 4, 4));
    height = std::abs(int64_t{static_cast<int32_t>(Le(dib, 8, 4))});
    bits = Le(dib, 14, 2);
    compression = Le(dib, 16, 4);
  } else {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  CheckPictureSides(width, height);
  // Depths and compressions a bitmap may have; libwmf sizes its buffers by
  // the depth whatever the compression says.
  if ((bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
       bits != 32) ||
      compression > 3 || (compression == 1 && bits != 8) ||
      (compression == 2 && bits != 4)) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const int64_t pixels = width * height;
  const auto bytes = static_cast<int64_t>(dib.size());
  if (compression == 0 || compression == 3) {
    const int64_t stride = (width * std::max<int64_t>(bits, 1) + 31) / 32 * 4;
    if (stride * height > bytes)
      RaisePictureError(platform::kErrInvalidPicture);
  } else if (pixels > bytes * 256) {
    // A run-length bitmap gives at most 255 pixels for two bytes.
    RaisePictureError(platform::kErrInvalidPicture);
  }
  // Its data fits in its record: only now may its size say "too large".
  CheckDecodedPixels(width, height, width, height);
  return pixels;
}

// Serialises every use of libwmf: its font handling keeps process-wide
// state that two plays at once would share.
std::mutex& LibwmfMutex() {
  static std::mutex mutex;
  return mutex;
}

// A bitmap drawn over more than this many times the picture's area (plus
// the allowance), which libwmf would stretch pixel by pixel, makes the file
// invalid.
constexpr double kMaxBitmapCoverage = 4;
constexpr double kBitmapCoverageAllowancePx = 1 << 20;

// The widest pen libwmf draws: a sixteenth of the picture's larger side, or
// 32 pixels when that is less.
constexpr double kMaxPenSides = 16;
constexpr double kMinPenCapPx = 32;

// What libwmf may allocate for one picture (its own image excepted): room
// for a bitmap at the picture limit, 4 bytes a pixel.
constexpr size_t kLibwmfAllocationBytes = size_t{kMaxPicturePixels} * 4;

// libwmf's allocations, counted against kLibwmfAllocationBytes. Each block
// carries its size in front of it, 16 bytes to keep the alignment.
struct AllocationCap {
  size_t left = kLibwmfAllocationBytes;
  bool refused = false;
};
constexpr size_t kBlockHeader = 16;

size_t BlockSize(void* mem) {
  size_t size = 0;
  std::memcpy(&size, static_cast<char*>(mem) - kBlockHeader, sizeof size);
  return size;
}

void* CappedMalloc(void* context, size_t size) {
  auto* cap = static_cast<AllocationCap*>(context);
  if (size > cap->left) {
    cap->refused = true;
    return nullptr;
  }
  auto* block = static_cast<char*>(std::malloc(size + kBlockHeader));
  if (block == nullptr) return nullptr;
  cap->left -= size;
  std::memcpy(block, &size, sizeof size);
  return block + kBlockHeader;
}

void CappedFree(void* context, void* mem) {
  if (mem == nullptr) return;
  static_cast<AllocationCap*>(context)->left += BlockSize(mem);
  std::free(static_cast<char*>(mem) - kBlockHeader);
}

void* CappedRealloc(void* context, void* mem, size_t size) {
  if (mem == nullptr) return CappedMalloc(context, size);
  auto* cap = static_cast<AllocationCap*>(context);
  const size_t old = BlockSize(mem);
  if (size > old && size - old > cap->left) {
    cap->refused = true;
    return nullptr;
  }
  auto* block = static_cast<char*>(std::realloc(
      static_cast<char*>(mem) - kBlockHeader, size + kBlockHeader));
  if (block == nullptr) return nullptr;
  cap->left = cap->left + old - size;
  std::memcpy(block, &size, sizeof size);
  return block + kBlockHeader;
}

// The status callback libwmf calls while it plays; non-zero stops it.
int StopWhenLate(void* context, float /*fraction*/) {
  return static_cast<const Deadline*>(context)->Passed() ? 1 : 0;
}

// Owns a libwmf handle.
class WmfHandle {
 public:
  WmfHandle() = default;
  WmfHandle(const WmfHandle&) = delete;
  WmfHandle& operator=(const WmfHandle&) = delete;
  ~WmfHandle() {
    if (api_ != nullptr) wmf_api_destroy(api_);
  }
  wmfAPI** out() { return &api_; }
  wmfAPI* get() const { return api_; }

 private:
  wmfAPI* api_ = nullptr;
};

// A refused allocation was the file's claim, not a lack of memory.
[[noreturn]] void RaiseForLibwmf(wmf_error_t error, const AllocationCap& cap) {
  RaisePictureError(error == wmf_E_InsMem && !cap.refused
                        ? platform::kErrOutOfMemory
                        : platform::kErrInvalidPicture);
}

}  // namespace

WmfLayout ScanWmf(std::span<const uint8_t> bytes) {
  size_t at = 0;
  std::optional<Point> placeable_tl;
  std::optional<Point> placeable_br;
  double units_per_inch = 0;
  if (bytes.size() >= kPlaceableBytes && Le(bytes, 0, 4) == kPlaceableKey) {
    placeable_tl = Point{static_cast<double>(Le16s(bytes, 6)),
                         static_cast<double>(Le16s(bytes, 8))};
    placeable_br = Point{static_cast<double>(Le16s(bytes, 10)),
                         static_cast<double>(Le16s(bytes, 12))};
    units_per_inch = Le(bytes, 14, 2);
    if (units_per_inch <= 0) RaisePictureError(platform::kErrInvalidPicture);
    at = kPlaceableBytes;
  }
  if (bytes.size() < at + kHeaderBytes || Le(bytes, at + 2, 2) != 9) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  // libwmf allocates the largest record the header states before reading
  // any: no record is larger than the file.
  const uint64_t max_record_bytes = uint64_t{Le(bytes, at + 12, 4)} * 2;
  if (max_record_bytes > bytes.size()) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  at += kHeaderBytes;
  std::optional<int> map_mode;
  std::optional<Point> window_org;
  std::optional<Point> window_ext;
  std::optional<Point> viewport_org;
  std::optional<Point> viewport_ext;
  WmfLayout layout;
  int64_t records = 0;
  bool ended = false;
  while (!ended && bytes.size() - at >= 6) {
    const uint64_t size = uint64_t{Le(bytes, at, 4)} * 2;
    const uint16_t function = static_cast<uint16_t>(Le(bytes, at + 4, 2));
    if (size < 6 || size > bytes.size() - at || size - 6 > max_record_bytes ||
        ++records > kMaxMetafileRecords) {
      RaisePictureError(platform::kErrInvalidPicture);
    }
    std::span<const uint8_t> params = bytes.subspan(at + 6, size - 6);
    auto pair = [&] {  // parameters (y, x)
      return Point{static_cast<double>(Le16s(params, 2)),
                   static_cast<double>(Le16s(params, 0))};
    };
    switch (function) {
      case kEof:
        // libwmf ends only at an EOF record of three words, and plays on
        // past a longer one: so does this walk.
        ended = size == 6;
        break;
      case kSetMapMode:
        if (params.size() >= 2 && !map_mode) {
          map_mode = static_cast<int>(Le(params, 0, 2));
        }
        break;
      case kSetWindowOrg:
        if (params.size() >= 4 && !window_org) window_org = pair();
        break;
      case kSetWindowExt:
        if (params.size() >= 4 && !window_ext) window_ext = pair();
        break;
      case kSetViewportOrg:
        if (params.size() >= 4 && !viewport_org) viewport_org = pair();
        break;
      case kCreatePenIndirect:
        // Its width follows the style.
        if (params.size() >= 4) layout.pen_widths.push_back(at + 6 + 2);
        break;
      case kSetViewportExt:
        if (params.size() >= 4 && !viewport_ext) viewport_ext = pair();
        break;
      default: {
        std::optional<int64_t> pixels;
        if (function == kStretchDib) pixels = BitmapPixels(params, 22);
        if (function == kDibStretchBlt) pixels = BitmapPixels(params, 20);
        if (function == kDibBitBlt) pixels = BitmapPixels(params, 16);
        if (function == kSetDibToDev) pixels = BitmapPixels(params, 18);
        if (function == kDibCreatePatternBrush) {
          pixels = BitmapPixels(params, 4);
        }
        if (pixels) {
          layout.largest_bitmap_pixels =
              std::max(layout.largest_bitmap_pixels, *pixels);
        }
        // Where the record's destination size lies among its parameters.
        size_t size_at = 0;
        if (function == kStretchDib) size_at = 14;
        if (function == kDibStretchBlt) size_at = 12;
        if (function == kDibBitBlt) size_at = 8;
        if (function == kSetDibToDev) size_at = 10;
        if (size_at != 0 && params.size() >= size_at + 4) {
          layout.bitmap_sizes.push_back(at + 6 + size_at);
          layout.largest_bitmap_area = std::max(
              layout.largest_bitmap_area,
              std::abs(static_cast<double>(Le16s(params, size_at))) *
                  std::abs(static_cast<double>(Le16s(params, size_at + 2))));
        }
        break;
      }
    }
    at += size;
  }
  // The logical size, and the frame in logical units.
  Point tl{0, 0};
  Point br{0, 0};
  if (placeable_tl) {
    tl = *placeable_tl;
    br = *placeable_br;
    const double inch_to_px = kMetafileDotsPerInch / units_per_inch;
    layout.width = std::llround(std::abs(br.x - tl.x) * inch_to_px);
    layout.height = std::llround(std::abs(br.y - tl.y) * inch_to_px);
  } else if (window_ext) {
    tl = window_org.value_or(Point{0, 0});
    br = Point{tl.x + window_ext->x, tl.y + window_ext->y};
    layout.width = std::llround(std::abs(window_ext->x));
    layout.height = std::llround(std::abs(window_ext->y));
  } else {
    return layout;
  }
  // The frame where libwmf draws it: in points for a placeable file that
  // keeps its first mapping, in logical units (MM_TEXT), or on the
  // viewport, 1024 units square unless the file sets one.
  const Point org = window_org.value_or(Point{0, 0});
  Point scale{1, 1};
  Point shift{0, 0};
  const int mode = map_mode.value_or(kMmText);
  if (placeable_tl && !map_mode) {
    scale =
        Point{kPointsPerInch / units_per_inch, kPointsPerInch / units_per_inch};
  } else if (mode == kMmAnisotropic || mode == kMmIsotropic) {
    if (!window_ext || window_ext->x == 0 || window_ext->y == 0) {
      return layout;
    }
    const Point vp_ext =
        viewport_ext.value_or(Point{kDefaultViewportExt, kDefaultViewportExt});
    scale = Point{vp_ext.x / window_ext->x, vp_ext.y / window_ext->y};
    if (mode == kMmIsotropic) {
      const double s = std::min(std::abs(scale.x), std::abs(scale.y));
      scale = Point{std::copysign(s, scale.x), std::copysign(s, scale.y)};
    }
    // libwmf takes the viewport origin off in logical units.
    shift = viewport_org.value_or(Point{0, 0});
  } else if (mode != kMmText) {
    return layout;  // a metric mapping: framed by what it draws
  }
  layout.left = static_cast<float>((tl.x - org.x - shift.x) * scale.x);
  layout.top = static_cast<float>((tl.y - org.y - shift.y) * scale.y);
  layout.right = static_cast<float>((br.x - org.x - shift.x) * scale.x);
  layout.bottom = static_cast<float>((br.y - org.y - shift.y) * scale.y);
  layout.framed = true;
  layout.units_per_logical = std::abs(scale.x * scale.y);
  if (layout.left > layout.right) std::swap(layout.left, layout.right);
  if (layout.top > layout.bottom) std::swap(layout.top, layout.bottom);
  return layout;
}

DecodedImage DecodeWmf(std::span<const uint8_t> bytes, const DecodeHint& hint) {
  WmfLayout layout = ScanWmf(bytes);
  std::lock_guard lock(LibwmfMutex());
  Deadline deadline(kMetafileTimeLimit);
  AllocationCap cap;  // outlives the handle, whose blocks it counts
  WmfHandle api;
  wmfAPI_Options options{};
  options.function = wmf_gd_function;
  options.context = &cap;
  options.malloc = CappedMalloc;
  options.realloc = CappedRealloc;
  options.free = CappedFree;
  // Errors are ours to report, not libwmf's to print.
  const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL |
                              WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG |
                              WMF_OPT_ALLOC;
  if (wmf_error_t e = wmf_api_create(api.out(), flags, &options);
      e != wmf_E_None) {
    RaiseForLibwmf(e, cap);
  }
  wmf_gd_t* device = WMF_GD_GetData(api.get());
  device->type = wmf_gd_image;
  wmf_status_function(api.get(), &deadline, StopWhenLate);
  // libwmf reads the bytes only; its interface is not const.
  // libwmf draws a wide line by stamping a square nib at every pixel of
  // it: a nib as wide as the picture takes minutes. Pens are held to
  // kMaxPenSides of the picture's larger side (a 32-pixel nib for small
  // pictures), in a copy of the file.
  std::vector<uint8_t> narrowed;
  std::span<const uint8_t> played = bytes;
  if (layout.framed && !layout.pen_widths.empty()) {
    const RasterSize out =
        MetafileRasterSize(layout.width, layout.height, hint);
    const double px_per_unit = std::sqrt(layout.units_per_logical) * out.width /
                               static_cast<double>(layout.right - layout.left);
    const double widest_px =
        std::max(kMinPenCapPx, std::max(out.width, out.height) / kMaxPenSides);
    const double widest = std::floor(widest_px / px_per_unit);
    for (size_t at : layout.pen_widths) {
      if (std::abs(static_cast<double>(Le16s(bytes, at))) <= widest) continue;
      if (narrowed.empty()) narrowed.assign(bytes.begin(), bytes.end());
      const auto w = static_cast<uint16_t>(
          std::clamp<double>(widest, 0, std::numeric_limits<int16_t>::max()));
      narrowed[at] = static_cast<uint8_t>(w);
      narrowed[at + 1] = static_cast<uint8_t>(w >> 8);
    }
  }
  // libwmf loops for seconds over a bitmap destination of negative size
  // (a mirrored one): the copy draws it unmirrored.
  for (size_t at : layout.bitmap_sizes) {
    for (size_t side = at; side < at + 4; side += 2) {
      const int16_t v = Le16s(bytes, side);
      if (v >= 0) continue;
      if (narrowed.empty()) narrowed.assign(bytes.begin(), bytes.end());
      const auto positive = static_cast<uint16_t>(
          v == std::numeric_limits<int16_t>::min() ? INT16_MAX : -v);
      narrowed[side] = static_cast<uint8_t>(positive);
      narrowed[side + 1] = static_cast<uint8_t>(positive >> 8);
    }
  }
  if (!narrowed.empty()) played = narrowed;
  if (wmf_error_t e =
          wmf_mem_open(api.get(), const_cast<unsigned char*>(played.data()),
                       static_cast<long>(played.size()));
      e != wmf_E_None) {
    RaiseForLibwmf(e, cap);
  }
  wmfD_Rect drawn{};
  if (wmf_error_t e = wmf_scan(api.get(), 0, &drawn); e != wmf_E_None) {
    RaiseForLibwmf(e, cap);
  }
  if (!layout.framed) {
    layout.left = drawn.TL.x;
    layout.top = drawn.TL.y;
    layout.right = drawn.BR.x;
    layout.bottom = drawn.BR.y;
  }
  if (layout.width == 0 && layout.height == 0) {
    // A plain file that sets no window: what it draws is all it has.
    layout.width = std::llround(drawn.BR.x - drawn.TL.x);
    layout.height = std::llround(drawn.BR.y - drawn.TL.y);
  }
  if (!(layout.right > layout.left) || !(layout.bottom > layout.top)) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const RasterSize size = MetafileRasterSize(layout.width, layout.height, hint);
  if (layout.framed) {
    // libwmf stretches a bitmap pixel by pixel over all of its destination,
    // inside the picture or not: minutes for one far larger than it.
    const double out_per_unit =
        size.width / static_cast<double>(layout.right - layout.left) *
        size.height / static_cast<double>(layout.bottom - layout.top);
    const double drawn_px =
        layout.largest_bitmap_area * layout.units_per_logical * out_per_unit;
    if (drawn_px > kMaxBitmapCoverage * size.width * size.height +
                       kBitmapCoverageAllowancePx) {
      RaisePictureError(platform::kErrInvalidPicture);
    }
  }
  const int64_t out_bytes = int64_t{size.width} * size.height * 4;
  // libwmf's image, ours, and a bitmap libwmf unpacks.
  DecodeBudget::Lease lease = SharedDecodeBudget().Take(
      2 * out_bytes + layout.largest_bitmap_pixels * 4);
  DecodedImage out;
  out.width = static_cast<int32_t>(layout.width);
  out.height = static_cast<int32_t>(layout.height);
  out.pixel_width = size.width;
  out.pixel_height = size.height;
  out.stride_bytes = size.width * 4;
  try {
    out.bgrx.resize(static_cast<size_t>(out_bytes));
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  device->bbox.TL.x = layout.left;
  device->bbox.TL.y = layout.top;
  device->bbox.BR.x = layout.right;
  device->bbox.BR.y = layout.bottom;
  device->width = static_cast<unsigned>(size.width);
  device->height = static_cast<unsigned>(size.height);
  if (wmf_error_t e = wmf_play(api.get(), 0, &drawn); e != wmf_E_None) {
    RaiseForLibwmf(e, cap);
  }
  const int* pixels = device->gd_image != nullptr
                          ? wmf_gd_image_pixels(device->gd_image)
                          : nullptr;
  if (pixels == nullptr) RaisePictureError(platform::kErrOutOfMemory);
  // libwmf hands the image over without freeing it, and exports nothing to
  // free it with; given back as the device's own image (the first member
  // of its state), wmf_api_destroy frees it with the rest.
  *static_cast<void**>(device->gd_data) = device->gd_image;
  // gd's true colour: 7 bits of transparency (0 opaque) over red, green,
  // blue; composited on white like every transparent picture.
  uint8_t* dst = out.bgrx.data();
  const size_t count = static_cast<size_t>(size.width) * size.height;
  for (size_t i = 0; i < count; ++i, dst += 4) {
    const auto p = static_cast<uint32_t>(pixels[i]);
    const uint32_t transparency = (p >> 24) & 0x7F;
    const uint32_t a = 255 - (transparency * 255 + 63) / 127;
    const uint32_t white = 255 * (255 - a) + 127;
    dst[0] = static_cast<uint8_t>(((p & 0xFF) * a + white) / 255);
    dst[1] = static_cast<uint8_t>((((p >> 8) & 0xFF) * a + white) / 255);
    dst[2] = static_cast<uint8_t>((((p >> 16) & 0xFF) * a + white) / 255);
    dst[3] = 255;
  }
  return out;
}

}  // namespace vg::decoders::decoders_internal
