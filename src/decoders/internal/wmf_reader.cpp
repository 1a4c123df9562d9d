#include "decoders/internal/wmf_reader.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "decoders/internal/byte_order.h"
#include "decoders/internal/dib_header.h"
#include "decoders/internal/emf_player.h"
#include "decoders/internal/emf_records.h"
#include "decoders/internal/metafile_raster.h"
#include "decoders/internal/picture_error.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableBytes = 22;
constexpr size_t kHeaderBytes = 18;

// WMF record functions.
enum : uint16_t {
  kEof = 0x0000,
  kRealizePalette = 0x0035,
  kSetPalEntries = 0x0037,
  kSetRop2 = 0x0104,
  kResizePalette = 0x0139,
  kSelectPalette = 0x0234,
  kAnimatePalette = 0x0436,
  kSaveDc = 0x001E,
  kSetBkMode = 0x0102,
  kSetMapMode = 0x0103,
  kSetPolyFillMode = 0x0106,
  kRestoreDc = 0x0127,
  kInvertRegion = 0x012A,
  kPaintRegion = 0x012B,
  kSelectClipRegion = 0x012C,
  kFillRegion = 0x0228,
  kFrameRegion = 0x0429,
  kSelectObject = 0x012D,
  kSetTextAlign = 0x012E,
  kDibCreatePatternBrush = 0x0142,
  kDeleteObject = 0x01F0,
  kSetBkColor = 0x0201,
  kSetTextColor = 0x0209,
  kSetWindowOrg = 0x020B,
  kSetWindowExt = 0x020C,
  kSetViewportOrg = 0x020D,
  kSetViewportExt = 0x020E,
  kOffsetWindowOrg = 0x020F,
  kOffsetViewportOrg = 0x0211,
  kLineTo = 0x0213,
  kMoveTo = 0x0214,
  kCreatePenIndirect = 0x02FA,
  kCreateFontIndirect = 0x02FB,
  kCreateBrushIndirect = 0x02FC,
  kPolygon = 0x0324,
  kPolyline = 0x0325,
  kScaleWindowExt = 0x0410,
  kScaleViewportExt = 0x0412,
  kExcludeClipRect = 0x0415,
  kIntersectClipRect = 0x0416,
  kEllipse = 0x0418,
  kRectangle = 0x041B,
  kSetPixel = 0x041F,
  kTextOut = 0x0521,
  kPolyPolygon = 0x0538,
  kPatBlt = 0x061D,
  kRoundRect = 0x061C,
  kArc = 0x0817,
  kPie = 0x081A,
  kChord = 0x0830,
  kDibBitBlt = 0x0940,
  // The same with a device-dependent bitmap, of Windows 2 and 3.0.
  kBitBlt16 = 0x0922,
  kStretchBlt16 = 0x0B23,
  kExtTextOut = 0x0A32,
  kDibStretchBlt = 0x0B41,
  kSetDibToDev = 0x0D33,
  kStretchDib = 0x0F43,
  kCreatePalette = 0x00F7,
  // Records that make an object, which takes a slot of the object table,
  // though only pens, brushes, fonts and palettes are drawn with.
  kCreatePatternBrush = 0x01F9,
  kCreateRegion = 0x06FF,
};

constexpr uint16_t kBsPattern = 3;
constexpr uint8_t kSymbolCharset = 2;

// The reference device of the EMF written: 100 pixels to the millimetre,
// so that its frame, in hundredths of a millimetre, is in device pixels.
constexpr int64_t kDeviceMm = 1000;
constexpr int64_t kDevicePxPerMm = 100;
constexpr int64_t kDevicePx = kDeviceMm * kDevicePxPerMm;
constexpr double kHimetricPerInch = 2540;

// A record's parameters: 16-bit words, the last argument of the call first.
class Params {
 public:
  explicit Params(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  size_t words() const { return bytes_.size() / 2; }
  bool Has(size_t n) const { return words() >= n; }
  uint16_t U(size_t i) const {
    return static_cast<uint16_t>(Le16(bytes_, i * 2));
  }
  int16_t S(size_t i) const { return static_cast<int16_t>(U(i)); }
  uint32_t U32(size_t i) const { return Le32(bytes_, i * 2); }
  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  std::span<const uint8_t> bytes_;
};

// Returns the pixels of the bitmap at `dib`, or nothing when it holds no
// header; raises 481 when the bitmap claims more than the limits or than
// its bytes hold.
std::optional<int64_t> BitmapPixels(std::span<const uint8_t> dib) {
  if (dib.size() < 16) return std::nullopt;
  const std::optional<DibHeader> header = ReadDibHeader(dib);
  if (!header) RaisePictureError(platform::kErrInvalidPicture);
  const int64_t width = header->width;
  const int64_t height = std::abs(header->height);
  const int64_t bits = header->bits;
  const uint32_t compression = header->compression;
  CheckPictureSides(width, height);
  if ((bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
       bits != 32) ||
      compression > kBiBitfields || (compression == kBiRle8 && bits != 8) ||
      (compression == kBiRle4 && bits != 4)) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  const int64_t pixels = width * height;
  const auto bytes = static_cast<int64_t>(dib.size());
  if (compression == kBiRgb || compression == kBiBitfields) {
    const int64_t stride = (width * bits + 31) / 32 * 4;
    if (stride * height > bytes) {
      RaisePictureError(platform::kErrInvalidPicture);
    }
  } else if (pixels > bytes * 256) {
    // A run-length bitmap gives at most 255 pixels for two bytes.
    RaisePictureError(platform::kErrInvalidPicture);
  }
  // Its data fits in its record: only now may its size say "too large".
  CheckDecodedPixels(width, height, width, height);
  return pixels;
}

// Where a blit of a device-dependent bitmap holds it, in words, or 0 when
// it holds none: where the blit of a DIB would.
size_t Bitmap16Word(uint16_t function, const Params& p) {
  if (function == kStretchBlt16) return p.words() > 11 ? 10 : 0;
  if (function == kBitBlt16) return p.words() > 9 ? 8 : 0;
  return 0;
}

// Returns the device-dependent bitmap `b` (type, width, height, bytes a
// row, planes, bits a pixel, then its rows top first) as a packed DIB, its
// 0 bits in the text colour and its 1 bits in the background colour when it
// has one bit a pixel; empty when it is of a kind not drawn here or its
// rows are not all in its record.
std::vector<uint8_t> Bitmap16ToDib(std::span<const uint8_t> b,
                                   uint32_t text_colour, uint32_t bk_colour) {
  constexpr size_t kHead = 10;
  if (b.size() < kHead) return {};
  const int64_t width = static_cast<int16_t>(Le16(b, 2));
  const int64_t height = static_cast<int16_t>(Le16(b, 4));
  const size_t row_bytes = Le16(b, 6);
  const uint8_t planes = b[8];
  const uint8_t bits = b[9];
  if (width <= 0 || height <= 0 || planes != 1 ||
      (bits != 1 && bits != 24 && bits != 32) ||
      row_bytes < static_cast<size_t>((width * bits + 7) / 8) ||
      row_bytes * static_cast<size_t>(height) > b.size() - kHead) {
    return {};
  }
  const size_t stride = static_cast<size_t>((width * bits + 31) / 32 * 4);
  std::vector<uint8_t> dib;
  const auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i)
      dib.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  // A top-down BITMAPINFOHEADER, then two colours for one bit a pixel.
  put32(kDibInfoHeaderBytes);
  put32(static_cast<uint32_t>(width));
  put32(static_cast<uint32_t>(-height));
  put32(1 | uint32_t{bits} << 16);
  put32(kBiRgb);
  put32(static_cast<uint32_t>(stride * static_cast<size_t>(height)));
  put32(0);
  put32(0);
  put32(bits == 1 ? 2 : 0);
  put32(0);
  if (bits == 1) {
    for (uint32_t c : {text_colour, bk_colour}) {
      // A COLORREF's red, green, blue as a colour table's blue, green, red.
      put32((c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF));
    }
  }
  for (int64_t y = 0; y < height; ++y) {
    const auto row =
        b.subspan(kHead + static_cast<size_t>(y) * row_bytes, row_bytes);
    const size_t kept = std::min(stride, row_bytes);
    dib.insert(dib.end(), row.begin(),
               row.begin() + static_cast<ptrdiff_t>(kept));
    dib.resize(dib.size() + stride - kept);
  }
  return dib;
}

// Where a bitmap record's DIB starts among its parameters, in words, or 0
// when the record holds none (nor anything after its fixed parameters).
size_t DibWord(uint16_t function, const Params& p) {
  switch (function) {
    case kStretchDib:
      return p.words() > 11 ? 11 : 0;
    case kSetDibToDev:
      return p.words() > 9 ? 9 : 0;
    case kDibCreatePatternBrush:
      return p.words() > 2 ? 2 : 0;
    case kDibStretchBlt:
      // The form without a bitmap has one reserved word more than its
      // function's high byte says and nothing after it.
      return p.words() > 11 ? 10 : 0;
    case kDibBitBlt:
      return p.words() > 9 ? 8 : 0;
    default:
      return 0;
  }
}

// The bytes of a DIB's header and colour table (of colours, or of palette
// indices when `usage` says so), as far as `dib` holds them.
size_t DibInfoBytes(std::span<const uint8_t> dib, uint32_t usage) {
  const uint32_t header = Le32(dib, 0);
  size_t colours = 0;
  // A table of palette indices holds 16-bit entries.
  size_t entry = usage == emf::kDibPalColors ? 2 : 4;
  if (header == kDibCoreHeaderBytes) {
    const uint32_t bits = Le16(dib, 10);
    colours = bits <= 8 ? size_t{1} << bits : 0;
    entry = usage == emf::kDibPalColors ? 2 : 3;
  } else {
    const uint32_t bits = Le16(dib, 14);
    const uint32_t compression = Le32(dib, 16);
    const uint32_t used = dib.size() >= 36 ? Le32(dib, 32) : 0;
    colours = used != 0 && used <= 256 ? used
              : bits <= 8              ? size_t{1} << bits
                                       : 0;
    if (compression == kBiBitfields && header == kDibInfoHeaderBytes) {
      colours = 3;  // the masks
      entry = 4;
    }
  }
  return std::min(dib.size(), header + colours * entry);
}

// The ICU converter of a font's character set, or nothing for the
// symbol sets, whose bytes stand for themselves.
const char* ConverterName(uint8_t charset) {
  switch (charset) {
    case kSymbolCharset:
      return nullptr;
    case 77:
      return "macintosh";
    case 128:
      return "windows-31j";
    case 129:
      return "windows-949";
    case 134:
      return "windows-936";
    case 136:
      return "windows-950";
    case 161:
      return "windows-1253";
    case 162:
      return "windows-1254";
    case 163:
      return "windows-1258";
    case 177:
      return "windows-1255";
    case 178:
      return "windows-1256";
    case 186:
      return "windows-1257";
    case 204:
      return "windows-1251";
    case 222:
      return "windows-874";
    case 238:
      return "windows-1250";
    case 255:
      return "ibm-437";
    default:  // ANSI, DEFAULT and the rest
      return "windows-1252";
  }
}

// The characters of the Symbol font's codes 0x20 to 0xFF, where they are
// not the ASCII ones (0: the byte stands for itself).
constexpr std::array<char16_t, 224> kSymbolFont = {
    // 0x20
    0, 0, 0x2200, 0, 0x2203, 0, 0, 0x220B, 0, 0, 0x2217, 0, 0, 0x2212, 0, 0,
    // 0x30
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x40
    0x2245, 0x0391, 0x0392, 0x03A7, 0x0394, 0x0395, 0x03A6, 0x0393, 0x0397,
    0x0399, 0x03D1, 0x039A, 0x039B, 0x039C, 0x039D, 0x039F,
    // 0x50
    0x03A0, 0x0398, 0x03A1, 0x03A3, 0x03A4, 0x03A5, 0x03C2, 0x03A9, 0x039E,
    0x03A8, 0x0396, 0, 0x2234, 0, 0x22A5, 0,
    // 0x60
    0x203E, 0x03B1, 0x03B2, 0x03C7, 0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7,
    0x03B9, 0x03D5, 0x03BA, 0x03BB, 0x03BC, 0x03BD, 0x03BF,
    // 0x70
    0x03C0, 0x03B8, 0x03C1, 0x03C3, 0x03C4, 0x03C5, 0x03D6, 0x03C9, 0x03BE,
    0x03C8, 0x03B6, 0, 0, 0, 0x223C, 0,
    // 0x80: unused
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x90: unused
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0xA0
    0x20AC, 0x03D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x0192, 0x2663, 0x2666,
    0x2665, 0x2660, 0x2194, 0x2190, 0x2191, 0x2192, 0x2193,
    // 0xB0
    0x00B0, 0x00B1, 0x2033, 0x2265, 0x00D7, 0x221D, 0x2202, 0x2022, 0x00F7,
    0x2260, 0x2261, 0x2248, 0x2026, 0x23D0, 0x23AF, 0x21B5,
    // 0xC0
    0x2135, 0x2111, 0x211C, 0x2118, 0x2297, 0x2295, 0x2205, 0x2229, 0x222A,
    0x2283, 0x2287, 0x2284, 0x2282, 0x2286, 0x2208, 0x2209,
    // 0xD0
    0x2220, 0x2207, 0x00AE, 0x00A9, 0x2122, 0x220F, 0x221A, 0x22C5, 0x00AC,
    0x2227, 0x2228, 0x21D4, 0x21D0, 0x21D1, 0x21D2, 0x21D3,
    // 0xE0
    0x25CA, 0x2329, 0x00AE, 0x00A9, 0x2122, 0x2211, 0x239B, 0x239C, 0x239D,
    0x23A1, 0x23A2, 0x23A3, 0x23A7, 0x23A8, 0x23A9, 0x23AA,
    // 0xF0
    0, 0x232A, 0x222B, 0x2320, 0x23AE, 0x2321, 0x239E, 0x239F, 0x23A0, 0x23A4,
    0x23A5, 0x23A6, 0x23AB, 0x23AC, 0x23AD, 0};

// Returns `text` in the Symbol font's codes as Unicode, one code unit a
// byte.
std::u16string SymbolToUtf16(std::span<const uint8_t> text,
                             std::vector<int32_t>* from) {
  std::u16string out;
  from->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t b = text[i];
    const char16_t mapped = b >= 0x20 ? kSymbolFont[b - 0x20] : 0;
    out += mapped != 0 ? mapped : static_cast<char16_t>(b);
    from->push_back(static_cast<int32_t>(i));
  }
  return out;
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

// Returns `text` in UTF-16 read in `charset`, and in `from` the byte each
// code unit starts at.
std::u16string ToUtf16(std::span<const uint8_t> text, uint8_t charset,
                       std::vector<int32_t>* from) {
  std::u16string out;
  from->clear();
  if (const char* name = ConverterName(charset)) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> converter(
        ucnv_open(name, &status));
    if (U_SUCCESS(status)) {
      // No byte gives more than two code units.
      out.resize(text.size() * 2);
      from->resize(out.size());
      UChar* target = out.data();
      const auto* source = reinterpret_cast<const char*>(text.data());
      ucnv_toUnicode(converter.get(), &target, out.data() + out.size(), &source,
                     source + text.size(), from->data(), true, &status);
      if (U_SUCCESS(status)) {
        out.resize(static_cast<size_t>(target - out.data()));
        from->resize(out.size());
        return out;
      }
    }
    out.clear();
    from->clear();
  }
  for (size_t i = 0; i < text.size(); ++i) {
    out += static_cast<char16_t>(text[i]);
    from->push_back(static_cast<int32_t>(i));
  }
  return out;
}

// The EMF being written.
class EmfOut {
 public:
  // Starts a record of `type`; End() closes it.
  EmfOut& Begin(uint32_t type) {
    start_ = bytes_.size();
    Put32(type);
    Put32(0);
    return *this;
  }
  EmfOut& Put32(uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    return *this;
  }
  EmfOut& PutI(int64_t v) { return Put32(static_cast<uint32_t>(v)); }
  EmfOut& Put16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  EmfOut& PutBytes(std::span<const uint8_t> b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  // The offset, from the record's start, of what is put next.
  uint32_t Offset() const {
    return static_cast<uint32_t>(bytes_.size() - start_);
  }
  void End() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
    const auto size = static_cast<uint32_t>(bytes_.size() - start_);
    for (int i = 0; i < 4; ++i) {
      bytes_[start_ + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    ++records_;
  }
  // A record of 32-bit parameters.
  void Record(uint32_t type, std::initializer_list<int64_t> params) {
    Begin(type);
    for (int64_t v : params) PutI(v);
    End();
  }
  size_t size() const { return bytes_.size(); }
  uint32_t records() const { return records_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t start_ = 0;
  uint32_t records_ = 0;
};

// The logical extent of what a plain file draws, in device pixels of the
// reference device at 96 dots per inch.
struct Extent {
  double left = std::numeric_limits<double>::infinity();
  double top = std::numeric_limits<double>::infinity();
  double right = -std::numeric_limits<double>::infinity();
  double bottom = -std::numeric_limits<double>::infinity();
  bool Empty() const { return !(right > left) || !(bottom > top); }
  void Add(double x, double y) {
    left = std::min(left, x);
    right = std::max(right, x);
    top = std::min(top, y);
    bottom = std::max(bottom, y);
  }
};

// Pixels at 96 dots per inch for one logical unit of the metric mapping
// modes, whose y axis points up; 1 for the others.
double UnitPx(int mode) {
  switch (mode) {
    case kMmLoMetric:
      return kMetafileDotsPerInch / 254.0;
    case kMmHiMetric:
      return kMetafileDotsPerInch / 2540.0;
    case kMmLoEnglish:
      return kMetafileDotsPerInch / 100.0;
    case kMmHiEnglish:
      return kMetafileDotsPerInch / 1000.0;
    case kMmTwips:
      return kMetafileDotsPerInch / 1440.0;
    default:
      return 1;
  }
}

bool Metric(int mode) { return mode >= kMmLoMetric && mode <= kMmTwips; }

struct Window {
  int32_t org_x = 0;
  int32_t org_y = 0;
  int32_t ext_x = 1;
  int32_t ext_y = 1;
  int mode = kMmText;
};

// What a walk over the records found, before any is written.
struct Scan {
  bool placeable = false;
  int16_t box[4] = {0, 0, 0, 0};
  uint16_t units_per_inch = 0;
  uint16_t objects = 0;
  std::optional<int> first_mode;
  std::optional<std::array<int32_t, 2>> first_org;
  std::optional<std::array<int32_t, 2>> first_ext;
  Extent drawn;
};

// Calls `each(function, params)` for every record of the WMF `bytes` up to
// its EOF, after checking the headers and that each record lies within the
// file; fills in what the headers say in `scan`.
template <typename Each>
void Walk(std::span<const uint8_t> bytes, Scan* scan, Each each) {
  size_t at = 0;
  if (bytes.size() >= kPlaceableBytes && Le32(bytes, 0) == kPlaceableKey) {
    scan->placeable = true;
    for (int i = 0; i < 4; ++i) {
      scan->box[i] = static_cast<int16_t>(Le16(bytes, 6 + 2 * i));
    }
    scan->units_per_inch = static_cast<uint16_t>(Le16(bytes, 14));
    if (scan->units_per_inch == 0) {
      RaiseInvalidPicture("WMF: placeable header of 0 units an inch");
    }
    at = kPlaceableBytes;
  }
  if (bytes.size() < at + kHeaderBytes || Le16(bytes, at + 2) != 9) {
    RaiseInvalidPicture("WMF: damaged header");
  }
  scan->objects = static_cast<uint16_t>(Le16(bytes, at + 10));
  // No record is larger than the header says, nor than the file.
  const uint64_t max_record_bytes = uint64_t{Le32(bytes, at + 12)} * 2;
  if (max_record_bytes > bytes.size()) {
    RaiseInvalidPicture("WMF: its header states a record larger than the file");
  }
  at += kHeaderBytes;
  int64_t records = 0;
  while (bytes.size() - at >= 6) {
    const uint64_t size = uint64_t{Le32(bytes, at)} * 2;
    const auto function = static_cast<uint16_t>(Le16(bytes, at + 4));
    if (size < 6 || size > bytes.size() - at || size - 6 > max_record_bytes) {
      RaiseDamagedRecord("WMF", function, at);
    }
    if (++records > kMaxMetafileRecords) {
      RaiseInvalidPicture("WMF: more than " +
                          std::to_string(kMaxMetafileRecords) + " records");
    }
    // Only an EOF of three words ends the picture, as Windows reads it.
    if (function == kEof && size == 6) break;
    const Params p(bytes.subspan(at + 6, size - 6));
    if (const size_t dib = DibWord(function, p); dib != 0) {
      ForRecord("WMF", function, at,
                [&] { BitmapPixels(p.bytes().subspan(dib * 2)); });
    }
    each(function, p);
    at += size;
  }
}

// Adds to `extent` the points a drawing record reaches, in reference
// device pixels from the window's origin.
void AddDrawn(uint16_t function, const Params& p, const Window& w,
              Extent* extent) {
  const double unit = UnitPx(w.mode);
  const double y_unit = Metric(w.mode) ? -unit : unit;
  auto add = [&](int x, int y) {
    extent->Add((x - w.org_x) * unit, (y - w.org_y) * y_unit);
  };
  auto add_points = [&](size_t at, size_t count) {
    for (size_t i = 0; i < count && p.Has(at + 2 * i + 2); ++i) {
      add(p.S(at + 2 * i), p.S(at + 2 * i + 1));
    }
  };
  switch (function) {
    case kLineTo:
    case kMoveTo:
    case kSetPixel:
      if (p.Has(2)) add(p.S(p.words() - 1), p.S(p.words() - 2));
      break;
    case kRectangle:
    case kEllipse:
    case kRoundRect:
    case kArc:
    case kChord:
    case kPie:
      // (bottom, right, top, left) end every one of them.
      if (p.Has(4)) {
        const size_t n = p.words();
        add(p.S(n - 1), p.S(n - 2));
        add(p.S(n - 3), p.S(n - 4));
      }
      break;
    case kPolygon:
    case kPolyline:
      if (p.Has(1)) add_points(1, p.U(0));
      break;
    case kPolyPolygon:
      if (p.Has(1)) {
        size_t total = 0;
        for (size_t i = 0; i < p.U(0) && p.Has(2 + i); ++i) total += p.U(1 + i);
        add_points(1 + size_t{p.U(0)}, total);
      }
      break;
    case kPatBlt:
      if (p.Has(6)) {
        add(p.S(5), p.S(4));
        add(p.S(5) + p.S(3), p.S(4) + p.S(2));
      }
      break;
    case kStretchDib:
      if (p.Has(11)) {
        add(p.S(10), p.S(9));
        add(p.S(10) + p.S(8), p.S(9) + p.S(7));
      }
      break;
    case kDibStretchBlt:
    case kStretchBlt16: {
      const size_t k = p.words() > 11 ? 6 : 7;
      if (p.Has(k + 4)) {
        add(p.S(k + 3), p.S(k + 2));
        add(p.S(k + 3) + p.S(k + 1), p.S(k + 2) + p.S(k));
      }
      break;
    }
    case kDibBitBlt:
    case kBitBlt16: {
      const size_t k = p.words() > 9 ? 4 : 5;
      if (p.Has(k + 4)) {
        add(p.S(k + 3), p.S(k + 2));
        add(p.S(k + 3) + p.S(k + 1), p.S(k + 2) + p.S(k));
      }
      break;
    }
    case kSetDibToDev:
      if (p.Has(9)) {
        add(p.S(8), p.S(7));
        add(p.S(8) + p.S(6), p.S(7) + p.S(5));
      }
      break;
    case kTextOut:
      if (p.Has(1)) {
        const size_t at = 1 + (size_t{p.U(0)} + 1) / 2;
        if (p.Has(at + 2)) add(p.S(at + 1), p.S(at));
      }
      break;
    case kExtTextOut:
      if (p.Has(2)) add(p.S(1), p.S(0));
      break;
    default:
      break;
  }
}

class Translator {
 public:
  Translator(uint16_t objects, EmfOut* out) : out_(*out), slots_(objects) {
    for (uint16_t i = 0; i < objects; ++i) free_.insert(i);
  }

  void Play(uint16_t function, const Params& p);
  uint32_t handles() const { return static_cast<uint32_t>(slots_.size()) + 1; }
  // Whether the file's mapping modes are played; else the mapping set
  // before its records (the window onto the frame) stays. Its viewport is
  // never played: the frame is the viewport.
  bool keep_mapping = false;

 private:
  enum class Kind : uint8_t {
    kFree,
    kPen,
    kBrush,
    kFont,
    kPalette,
    kRegion,
    kOther
  };
  // A rectangle: left, top, right, bottom.
  using Rect = std::array<int16_t, 4>;
  struct Slot {
    Kind kind = Kind::kFree;
    uint8_t charset = 0;
    bool symbol = false;       // the Symbol font, whose codes are its own
    std::vector<Rect> region;  // a region's rectangles
  };
  // Takes the lowest free slot of the object table for an object of
  // `kind`; returns its EMF handle, or nothing when the table is full (the
  // object is not made, as in Windows).
  std::optional<uint32_t> Take(Kind kind, uint8_t charset = 0,
                               bool symbol = false);
  void Shape(uint32_t type, const Params& p, size_t extra);
  void Poly(uint32_t type, const Params& p);
  void PolyPolygon(const Params& p);
  void Text(const Params& p, bool extended);
  void Bitmap(uint16_t function, const Params& p);
  void PatternBrush(const Params& p);
  void Font(const Params& p);
  // CreatePalette, and the records that change the selected palette.
  void Palette(uint16_t function, const Params& p);
  void CreateRegion(const Params& p);
  // The region of slot `slot`, or nothing when it holds none.
  const std::vector<Rect>* RegionOf(uint16_t slot) const;
  // Clipping to a region, and regions drawn.
  void Region(uint16_t function, const Params& p);
  // The RGNDATA of `rects`.
  void PutRegion(const std::vector<Rect>& rects);
  void PutStretchDib(int x, int y, int cx, int cy, int sx, int sy, int scx,
                     int scy, uint32_t rop, uint32_t usage,
                     std::span<const uint8_t> dib);

  EmfOut& out_;
  // The object table, as many slots as the header says, and its free ones.
  std::vector<Slot> slots_;
  std::set<uint16_t> free_;
  // The font selected's character set, and whether it is Symbol.
  uint8_t charset_ = 0;
  bool symbol_ = false;
  // The slot of the palette selected, if one is.
  std::optional<uint16_t> palette_;
  // The colours a one-bit device-dependent bitmap is drawn in.
  uint32_t text_colour_ = 0;
  uint32_t bk_colour_ = 0xFFFFFF;
  Window window_;
  std::vector<Window> saved_;
};

std::optional<uint32_t> Translator::Take(Kind kind, uint8_t charset,
                                         bool symbol) {
  if (free_.empty()) return std::nullopt;
  const uint16_t slot = *free_.begin();
  free_.erase(free_.begin());
  slots_[slot] = Slot{kind, charset, symbol, {}};
  return uint32_t{slot} + 1;
}

// Rectangle, Ellipse, RoundRect (`extra` 2: the corner size), Arc, Chord
// and Pie (`extra` 4: the radials' ends), their parameters (extra...,
// bottom, right, top, left).
void Translator::Shape(uint32_t type, const Params& p, size_t extra) {
  if (!p.Has(extra + 4)) return;
  out_.Begin(type);
  for (size_t i = extra + 4; i-- > extra;) out_.PutI(p.S(i));
  if (extra == 2) out_.PutI(p.S(1)).PutI(p.S(0));
  // An arc's start, then end: (yEnd, xEnd, yStart, xStart).
  if (extra == 4) out_.PutI(p.S(3)).PutI(p.S(2)).PutI(p.S(1)).PutI(p.S(0));
  out_.End();
}

void Translator::Poly(uint32_t type, const Params& p) {
  if (!p.Has(1)) return;
  const size_t count = std::min<size_t>(p.U(0), (p.words() - 1) / 2);
  if (count == 0) return;
  out_.Begin(type);
  for (int i = 0; i < 4; ++i) out_.Put32(0);  // bounds, not read
  out_.PutI(static_cast<int64_t>(count));
  for (size_t i = 0; i < count * 2; ++i) out_.Put16(p.U(1 + i));
  out_.End();
}

void Translator::PolyPolygon(const Params& p) {
  if (!p.Has(1)) return;
  const size_t polys = p.U(0);
  if (!p.Has(1 + polys)) return;
  size_t total = 0;
  for (size_t i = 0; i < polys; ++i) total += p.U(1 + i);
  if (total == 0 || !p.Has(1 + polys + 2 * total)) return;
  out_.Begin(emf::kPolyPolygon16);
  for (int i = 0; i < 4; ++i) out_.Put32(0);
  out_.PutI(static_cast<int64_t>(polys)).PutI(static_cast<int64_t>(total));
  for (size_t i = 0; i < polys; ++i) out_.Put32(p.U(1 + i));
  for (size_t i = 0; i < 2 * total; ++i) out_.Put16(p.U(1 + polys + i));
  out_.End();
}

void Translator::Text(const Params& p, bool extended) {
  int x = 0;
  int y = 0;
  uint16_t options = 0;
  std::array<int, 4> rect = {0, 0, 0, 0};
  size_t count = 0;
  size_t string_at = 0;  // in bytes
  if (extended) {
    // y, x, count, options, [rectangle], string, [advances].
    if (!p.Has(4)) return;
    y = p.S(0);
    x = p.S(1);
    count = p.U(2);
    options = p.U(3);
    string_at = 8;
    if ((options & (kEtoOpaque | kEtoClipped)) != 0 && p.Has(8)) {
      for (size_t i = 0; i < 4; ++i) rect[i] = p.S(4 + i);
      string_at = 16;
    }
  } else {
    // count, string, y, x.
    if (!p.Has(1)) return;
    count = p.U(0);
    string_at = 2;
    const size_t after = 1 + (count + 1) / 2;
    if (!p.Has(after + 2)) return;
    y = p.S(after);
    x = p.S(after + 1);
  }
  const std::span<const uint8_t> bytes = p.bytes();
  if (count == 0 || string_at + count > bytes.size()) return;
  std::vector<int32_t> from;
  const std::span<const uint8_t> string = bytes.subspan(string_at, count);
  const std::u16string text =
      symbol_ ? SymbolToUtf16(string, &from) : ToUtf16(string, charset_, &from);
  if (text.empty()) return;
  // The advances, one per byte, when the record holds them: each code
  // unit takes those of its bytes.
  const size_t dx_at = string_at + (count + 1) / 2 * 2;
  std::vector<int32_t> advances;
  if (extended && dx_at + count * 2 <= bytes.size()) {
    for (size_t i = 0; i < text.size(); ++i) {
      const auto first = static_cast<size_t>(std::max(from[i], 0));
      const size_t end = i + 1 < text.size()
                             ? static_cast<size_t>(std::max(from[i + 1], 0))
                             : count;
      int32_t sum = 0;
      for (size_t b = first; b < end && b < count; ++b) {
        sum += static_cast<int16_t>(Le16(bytes, dx_at + b * 2));
      }
      advances.push_back(sum);
    }
  }
  constexpr uint32_t kFixed = 76;
  const auto chars = static_cast<uint32_t>(text.size());
  const uint32_t string_bytes = (chars * 2 + 3) / 4 * 4;
  out_.Begin(emf::kExtTextOutW);
  for (int i = 0; i < 4; ++i) out_.Put32(0);  // bounds
  out_.Put32(1);                              // GM_COMPATIBLE
  out_.Put32(0).Put32(0);                     // scales, not read
  out_.PutI(x).PutI(y).Put32(chars).Put32(kFixed).Put32(options);
  for (int v : rect) out_.PutI(v);
  out_.Put32(advances.empty() ? 0 : kFixed + string_bytes);
  for (char16_t c : text) out_.Put16(c);
  if (chars % 2 != 0) out_.Put16(0);
  for (int32_t a : advances) out_.PutI(a);
  out_.End();
}

void Translator::PutStretchDib(int x, int y, int cx, int cy, int sx, int sy,
                               int scx, int scy, uint32_t rop, uint32_t usage,
                               std::span<const uint8_t> dib) {
  constexpr uint32_t kFixed = 80;
  const auto info = static_cast<uint32_t>(DibInfoBytes(dib, usage));
  const auto bits = static_cast<uint32_t>(dib.size()) - info;
  out_.Begin(emf::kStretchDiBits);
  for (int i = 0; i < 4; ++i) out_.Put32(0);
  out_.PutI(x).PutI(y).PutI(sx).PutI(sy).PutI(scx).PutI(scy);
  out_.Put32(kFixed).Put32(info).Put32(kFixed + info).Put32(bits);
  out_.Put32(usage).Put32(rop).PutI(cx).PutI(cy);
  out_.PutBytes(dib);
  out_.End();
}

// The whole bitmap, by its header's size.
std::array<int, 2> DibSize(std::span<const uint8_t> dib) {
  if (Le32(dib, 0) == 12) {
    return {static_cast<int>(Le16(dib, 4)), static_cast<int>(Le16(dib, 6))};
  }
  return {static_cast<int>(Le32(dib, 4)),
          std::abs(static_cast<int>(static_cast<int32_t>(Le32(dib, 8))))};
}

void Translator::Bitmap(uint16_t function, const Params& p) {
  const size_t dib_word = DibWord(function, p);
  std::span<const uint8_t> dib = dib_word != 0 ? p.bytes().subspan(dib_word * 2)
                                               : std::span<const uint8_t>();
  if (dib_word != 0 && dib.size() < 16) return;
  // These two always hold a bitmap: without one, the record is cut short.
  if (dib_word == 0 && (function == kStretchDib || function == kSetDibToDev)) {
    return;
  }
  std::vector<uint8_t> converted;
  if (const size_t word = Bitmap16Word(function, p); word != 0) {
    converted =
        Bitmap16ToDib(p.bytes().subspan(word * 2), text_colour_, bk_colour_);
    if (converted.empty()) return;  // a bitmap not drawn here
    dib = converted;
  }
  switch (function) {
    case kStretchDib:
      // rop, usage, source h, w, y, x, destination h, w, y, x.
      PutStretchDib(p.S(10), p.S(9), p.S(8), p.S(7), p.S(6), p.S(5), p.S(4),
                    p.S(3), p.U32(0), p.U(2), dib);
      break;
    case kSetDibToDev:
      // usage, scans, start, source y, x, h, w, destination y, x: drawn
      // unscaled.
      PutStretchDib(p.S(8), p.S(7), p.S(6), p.S(5), p.S(4), p.S(3), p.S(6),
                    p.S(5), kSrcCopy, p.U(0), dib);
      break;
    case kDibStretchBlt:
    case kDibBitBlt:
    case kStretchBlt16:
    case kBitBlt16: {
      const bool stretch =
          function == kDibStretchBlt || function == kStretchBlt16;
      // rop, [source h, w,] source y, x, [reserved,] destination h, w, y, x.
      const size_t d = (stretch ? 6 : 4) + (dib.empty() ? 1 : 0);
      if (!p.Has(d + 4)) return;
      const int cx = p.S(d + 1);
      const int cy = p.S(d);
      const int x = p.S(d + 3);
      const int y = p.S(d + 2);
      const uint32_t rop = p.U32(0);
      if (dib.empty()) {
        // No bitmap: the operation paints the destination alone.
        out_.Begin(emf::kBitBlt);
        for (int i = 0; i < 4; ++i) out_.Put32(0);
        out_.PutI(x).PutI(y).PutI(cx).PutI(cy).Put32(rop);
        for (int i = 0; i < 14; ++i) out_.Put32(0);
        out_.End();
        return;
      }
      const int sy = stretch ? p.S(4) : p.S(2);
      const int sx = stretch ? p.S(5) : p.S(3);
      const int scx = stretch ? p.S(3) : cx;
      const int scy = stretch ? p.S(2) : cy;
      // A blit counts its source rows from the top, StretchDIBits from the
      // bottom.
      const int height = DibSize(dib)[1];
      PutStretchDib(x, y, cx, cy, sx, height - sy - scy, scx, scy, rop, 0, dib);
      break;
    }
    default:
      break;
  }
}

void Translator::PatternBrush(const Params& p) {
  // style, usage, then the bitmap; a BS_PATTERN brush's colour table holds
  // colours whatever its usage says.
  const std::optional<uint32_t> handle = Take(Kind::kBrush);
  if (!handle) return;
  const std::span<const uint8_t> dib =
      p.bytes().subspan(std::min<size_t>(4, p.bytes().size()));
  const uint32_t usage = p.Has(2) && p.U(0) != kBsPattern ? p.U(1) : 0;
  constexpr uint32_t kFixed = 32;
  const auto info =
      static_cast<uint32_t>(dib.size() >= 16 ? DibInfoBytes(dib, usage) : 0);
  out_.Begin(emf::kCreateDibPatternBrushPt);
  out_.Put32(*handle).Put32(usage);
  out_.Put32(kFixed).Put32(info).Put32(kFixed + info);
  out_.Put32(static_cast<uint32_t>(dib.size()) - info);
  out_.PutBytes(dib);
  out_.End();
}

void Translator::Font(const Params& p) {
  // LOGFONT16: height, width, escapement, orientation, weight; then bytes:
  // italic, underline, strike out, character set, three precisions, pitch
  // and family; then the face name.
  if (!p.Has(9)) {
    Take(Kind::kOther);
    return;
  }
  const std::span<const uint8_t> b = p.bytes();
  const uint8_t charset = b[13];
  size_t name_end = 18;
  while (name_end < b.size() && name_end < 18 + 32 && b[name_end] != 0) {
    ++name_end;
  }
  std::vector<int32_t> from;
  std::u16string face = ToUtf16(b.subspan(18, name_end - 18), charset, &from);
  face.resize(std::min<size_t>(face.size(), 31));
  std::u16string lower = face;
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  const bool symbol = charset == kSymbolCharset && lower == u"symbol";
  const std::optional<uint32_t> handle = Take(Kind::kFont, charset, symbol);
  if (!handle) return;
  out_.Begin(emf::kExtCreateFontIndirectW).Put32(*handle);
  for (size_t i = 0; i < 5; ++i) out_.PutI(p.S(i));
  for (size_t i = 10; i < 18; ++i) out_.bytes().push_back(b[i]);
  for (size_t i = 0; i < 32; ++i) out_.Put16(i < face.size() ? face[i] : 0);
  out_.End();
}

void Translator::Palette(uint16_t function, const Params& p) {
  // A LOGPALETTE, or a change of entries: first entry (or version), count,
  // then the entries, four bytes each, as many as the record holds.
  const size_t entries =
      p.Has(2) ? std::min<size_t>(p.U(1), (p.words() - 2) / 2) : 0;
  const std::span<const uint8_t> bytes =
      p.Has(2) ? p.bytes().subspan(4, entries * 4) : p.bytes().first(0);
  switch (function) {
    case kCreatePalette:
      if (std::optional<uint32_t> h = Take(Kind::kPalette); h && p.Has(2)) {
        out_.Begin(emf::kCreatePalette).Put32(*h).Put16(p.U(0));
        out_.Put16(static_cast<uint16_t>(entries)).PutBytes(bytes).End();
      }
      break;
    case kSelectPalette:
      if (p.Has(1) && p.U(0) < slots_.size() &&
          slots_[p.U(0)].kind == Kind::kPalette) {
        palette_ = p.U(0);
        out_.Record(emf::kSelectPalette, {p.U(0) + 1});
      }
      break;
    case kSetPalEntries:
    case kAnimatePalette:
      if (palette_ && p.Has(2)) {
        out_.Begin(emf::kSetPaletteEntries).Put32(*palette_ + 1u);
        out_.Put32(p.U(0)).Put32(static_cast<uint32_t>(entries));
        out_.PutBytes(bytes).End();
      }
      break;
    case kResizePalette:
      if (palette_ && p.Has(1)) {
        out_.Record(emf::kResizePalette, {*palette_ + 1, p.U(0)});
      }
      break;
    default:
      break;
  }
}

void Translator::CreateRegion(const Params& p) {
  const std::optional<uint32_t> handle = Take(Kind::kRegion);
  if (!handle) return;
  std::vector<Rect>& rects = slots_[*handle - 1].region;
  // Its header: next in chain, type, count (2 words), size, scans, largest
  // scan, bounds; then the scans: a count of x values, top, bottom, the
  // (left, right) pairs, the count again.
  constexpr size_t kScansAt = 11;
  if (!p.Has(kScansAt)) return;
  const size_t scans = p.U(5);
  if (scans == 0) {
    // A region of its bounds alone.
    const Rect bounds = {p.S(7), p.S(8), p.S(9), p.S(10)};
    if (bounds[0] < bounds[2] && bounds[1] < bounds[3]) rects.push_back(bounds);
    return;
  }
  size_t at = kScansAt;
  for (size_t scan = 0; scan < scans && p.Has(at + 3); ++scan) {
    const size_t xs = p.U(at) & ~size_t{1};
    if (!p.Has(at + 3 + xs + 1)) break;
    const int16_t top = p.S(at + 1);
    const int16_t bottom = p.S(at + 2);
    for (size_t i = 0; i < xs; i += 2) {
      const int16_t left = p.S(at + 3 + i);
      const int16_t right = p.S(at + 4 + i);
      if (left < right && top < bottom) {
        rects.push_back({left, top, right, bottom});
      }
    }
    at += 3 + xs + 1;
  }
}

const std::vector<Translator::Rect>* Translator::RegionOf(uint16_t slot) const {
  if (slot >= slots_.size() || slots_[slot].kind != Kind::kRegion) {
    return nullptr;
  }
  return &slots_[slot].region;
}

void Translator::PutRegion(const std::vector<Rect>& rects) {
  constexpr uint32_t kHeader = 32;
  constexpr uint32_t kRectangles = 1;
  const auto count = static_cast<uint32_t>(rects.size());
  Rect bounds = {0, 0, 0, 0};
  for (size_t i = 0; i < rects.size(); ++i) {
    for (size_t k = 0; k < 4; ++k) {
      const bool low = k < 2;
      if (i == 0 || (low ? rects[i][k] < bounds[k] : rects[i][k] > bounds[k])) {
        bounds[k] = rects[i][k];
      }
    }
  }
  out_.Put32(kHeader).Put32(kRectangles).Put32(count).Put32(16 * count);
  for (int16_t v : bounds) out_.PutI(v);
  for (const Rect& rect : rects) {
    for (int16_t v : rect) out_.PutI(v);
  }
}

void Translator::Region(uint16_t function, const Params& p) {
  if (!p.Has(1)) return;
  // The region is the first parameter of the clip, paint and invert
  // records; the fill and frame records give the brush first.
  const bool brush_first = function == kFillRegion || function == kFrameRegion;
  const size_t region_at = function == kFrameRegion ? 3 : brush_first ? 1 : 0;
  if (function == kSelectClipRegion && p.U(0) == 0) {
    // The empty region: no clipping.
    out_.Record(emf::kExtSelectClipRgn, {0, emf::kRgnCopy});
    return;
  }
  if (!p.Has(region_at + 1)) return;
  const std::vector<Rect>* rects = RegionOf(p.U(region_at));
  if (rects == nullptr) return;
  if (function == kSelectClipRegion) {
    // Its rectangles as a path, in the units the drawing is in.
    out_.Record(emf::kBeginPath, {});
    if (!rects->empty()) {
      const auto count = static_cast<int64_t>(rects->size());
      out_.Begin(emf::kPolyPolygon16);
      for (int i = 0; i < 4; ++i) out_.Put32(0);  // bounds, not read
      out_.PutI(count).PutI(count * 4);
      for (int64_t i = 0; i < count; ++i) out_.Put32(4);
      for (const auto& [left, top, right, bottom] : *rects) {
        for (const auto& [x, y] : {std::pair{left, top},
                                   {right, top},
                                   {right, bottom},
                                   {left, bottom}}) {
          out_.Put16(static_cast<uint16_t>(x)).Put16(static_cast<uint16_t>(y));
        }
      }
      out_.End();
    }
    out_.Record(emf::kEndPath, {});
    out_.Record(emf::kSelectClipPath, {emf::kRgnCopy});
    return;
  }
  // The brush's slot, when the record names one that is a brush.
  std::optional<uint32_t> brush;
  if (brush_first) {
    const uint16_t slot = function == kFrameRegion ? p.U(2) : p.U(0);
    if (!p.Has(region_at + 1) || slot >= slots_.size() ||
        slots_[slot].kind != Kind::kBrush) {
      return;
    }
    brush = uint32_t{slot} + 1;
  }
  const uint32_t type = function == kFillRegion    ? emf::kFillRgn
                        : function == kFrameRegion ? emf::kFrameRgn
                        : function == kPaintRegion ? emf::kPaintRgn
                                                   : emf::kInvertRgn;
  out_.Begin(type);
  for (int i = 0; i < 4; ++i) out_.Put32(0);  // bounds, not read
  out_.Put32(32 + 16 * static_cast<uint32_t>(rects->size()));
  if (brush) out_.Put32(*brush);
  // A frame's width and height: (height, width) after its region and brush.
  if (function == kFrameRegion) out_.PutI(p.S(1)).PutI(p.S(0));
  PutRegion(*rects);
  out_.End();
}

// A one-pixel 24-bit DIB of the COLORREF `colour` (red in the low byte): its
// BITMAPINFOHEADER, then the pixel as blue, green, red and a byte of padding.
std::array<uint8_t, 44> OnePixelDib(uint32_t colour) {
  std::array<uint8_t, 44> dib{};
  dib[0] = 40;   // header size
  dib[4] = 1;    // width
  dib[8] = 1;    // height
  dib[12] = 1;   // planes
  dib[14] = 24;  // bits a pixel
  dib[20] = 4;   // image bytes
  dib[40] = static_cast<uint8_t>(colour >> 16);
  dib[41] = static_cast<uint8_t>(colour >> 8);
  dib[42] = static_cast<uint8_t>(colour);
  return dib;
}

void Translator::Play(uint16_t function, const Params& p) {
  auto point = [&](uint32_t type) {
    if (p.Has(2)) out_.Record(type, {p.S(1), p.S(0)});
  };
  switch (function) {
    case kSetMapMode:
      if (p.Has(1)) window_.mode = p.U(0);
      if (keep_mapping && p.Has(1)) out_.Record(emf::kSetMapMode, {p.U(0)});
      break;
    case kSetWindowOrg:
    case kOffsetWindowOrg:
      if (!p.Has(2)) break;
      if (function == kSetWindowOrg) {
        window_.org_x = p.S(1);
        window_.org_y = p.S(0);
      } else {
        window_.org_x += p.S(1);
        window_.org_y += p.S(0);
      }
      out_.Record(emf::kSetWindowOrgEx, {window_.org_x, window_.org_y});
      break;
    case kSetWindowExt:
      if (!p.Has(2)) break;
      window_.ext_x = p.S(1);
      window_.ext_y = p.S(0);
      out_.Record(emf::kSetWindowExtEx, {window_.ext_x, window_.ext_y});
      break;
    case kScaleWindowExt:
      // (y denominator, y numerator, x denominator, x numerator)
      if (p.Has(4)) {
        out_.Record(emf::kScaleWindowExtEx, {p.S(3), p.S(2), p.S(1), p.S(0)});
      }
      break;
    case kSetViewportOrg:
    case kSetViewportExt:
    case kOffsetViewportOrg:
    case kScaleViewportExt:
      // The viewport is the picture's frame, set before the records.
      break;
    case kSaveDc:
      saved_.push_back(window_);
      out_.Record(emf::kSaveDc, {});
      break;
    case kRestoreDc:
      if (p.Has(1)) {
        const int n = p.S(0);
        if (n < 0 && static_cast<size_t>(-n) <= saved_.size()) {
          saved_.resize(saved_.size() - static_cast<size_t>(-n) + 1);
        } else if (n > 0 && static_cast<size_t>(n) <= saved_.size()) {
          saved_.resize(static_cast<size_t>(n));
        } else {
          break;
        }
        window_ = saved_.back();
        saved_.pop_back();
        out_.Record(emf::kRestoreDc, {n});
      }
      break;
    case kSetBkMode:
      if (p.Has(1)) out_.Record(emf::kSetBkMode, {p.U(0)});
      break;
    case kSetPolyFillMode:
      if (p.Has(1)) out_.Record(emf::kSetPolyFillMode, {p.U(0)});
      break;
    case kSetTextAlign:
      if (p.Has(1)) out_.Record(emf::kSetTextAlign, {p.U(0)});
      break;
    case kSetBkColor:
      if (p.Has(2)) {
        bk_colour_ = p.U32(0);
        out_.Record(emf::kSetBkColor, {bk_colour_});
      }
      break;
    case kSetTextColor:
      if (p.Has(2)) {
        text_colour_ = p.U32(0);
        out_.Record(emf::kSetTextColor, {text_colour_});
      }
      break;
    case kCreatePenIndirect:
      // style, width (x, y), colour
      if (!p.Has(5)) {
        Take(Kind::kOther);
      } else if (std::optional<uint32_t> h = Take(Kind::kPen)) {
        out_.Record(emf::kCreatePen, {*h, p.U(0), p.S(1), p.S(2), p.U32(3)});
      }
      break;
    case kCreateBrushIndirect:
      // style, colour, hatch
      if (!p.Has(4)) {
        Take(Kind::kOther);
      } else if (std::optional<uint32_t> h = Take(Kind::kBrush)) {
        out_.Record(emf::kCreateBrushIndirect, {*h, p.U(0), p.U32(1), p.U(3)});
      }
      break;
    case kDibCreatePatternBrush:
      PatternBrush(p);
      break;
    case kCreateFontIndirect:
      Font(p);
      break;
    case kCreatePalette:
    case kSelectPalette:
    case kSetPalEntries:
    case kAnimatePalette:
    case kResizePalette:
      Palette(function, p);
      break;
    case kSetRop2:
      if (p.Has(1)) out_.Record(emf::kSetRop2, {p.U(0)});
      break;
    case kCreatePatternBrush:
      Take(Kind::kOther);
      break;
    case kCreateRegion:
      CreateRegion(p);
      break;
    case kSelectClipRegion:
    case kFillRegion:
    case kFrameRegion:
    case kInvertRegion:
    case kPaintRegion:
      Region(function, p);
      break;
    case kSelectObject:
      if (p.Has(1) && p.U(0) < slots_.size()) {
        const Slot& s = slots_[p.U(0)];
        if (s.kind == Kind::kPen || s.kind == Kind::kBrush ||
            s.kind == Kind::kFont) {
          if (s.kind == Kind::kFont) {
            charset_ = s.charset;
            symbol_ = s.symbol;
          }
          out_.Record(emf::kSelectObject, {p.U(0) + 1});
        }
      }
      break;
    case kDeleteObject:
      if (p.Has(1) && p.U(0) < slots_.size()) {
        Slot& s = slots_[p.U(0)];
        if (s.kind != Kind::kFree && s.kind != Kind::kOther) {
          out_.Record(emf::kDeleteObject, {p.U(0) + 1});
        }
        if (s.kind != Kind::kFree) free_.insert(p.U(0));
        if (palette_ == p.U(0)) palette_.reset();
        s = Slot{};
      }
      break;
    case kMoveTo:
      point(emf::kMoveToEx);
      break;
    case kLineTo:
      point(emf::kLineTo);
      break;
    case kExcludeClipRect:
      Shape(emf::kExcludeClipRect, p, 0);
      break;
    case kIntersectClipRect:
      Shape(emf::kIntersectClipRect, p, 0);
      break;
    case kRectangle:
      Shape(emf::kRectangle, p, 0);
      break;
    case kEllipse:
      Shape(emf::kEllipse, p, 0);
      break;
    case kRoundRect:
      Shape(emf::kRoundRect, p, 2);
      break;
    case kArc:
      Shape(emf::kArc, p, 4);
      break;
    case kChord:
      Shape(emf::kChord, p, 4);
      break;
    case kPie:
      Shape(emf::kPie, p, 4);
      break;
    case kPolygon:
      Poly(emf::kPolygon16, p);
      break;
    case kPolyline:
      Poly(emf::kPolyline16, p);
      break;
    case kPolyPolygon:
      PolyPolygon(p);
      break;
    case kTextOut:
      Text(p, false);
      break;
    case kExtTextOut:
      Text(p, true);
      break;
    case kPatBlt:
      // rop, height, width, y, x
      if (p.Has(6)) {
        out_.Begin(emf::kBitBlt);
        for (int i = 0; i < 4; ++i) out_.Put32(0);
        out_.PutI(p.S(5)).PutI(p.S(4)).PutI(p.S(3)).PutI(p.S(2));
        out_.Put32(p.U32(0));
        for (int i = 0; i < 14; ++i) out_.Put32(0);
        out_.End();
      }
      break;
    case kSetPixel:
      // colour, y, x: a pixel-sized square of a one-pixel bitmap.
      if (p.Has(4)) {
        const std::array<uint8_t, 44> dib = OnePixelDib(p.U32(0));
        PutStretchDib(p.S(3), p.S(2), 1, 1, 0, 0, 1, 1, kSrcCopy, 0, dib);
      }
      break;
    case kStretchDib:
    case kSetDibToDev:
    case kDibStretchBlt:
    case kDibBitBlt:
    case kStretchBlt16:
    case kBitBlt16:
      Bitmap(function, p);
      break;
    default:
      break;  // not drawn: escapes, and what no writer of today writes
  }
}

// Himetric in `px` pixels at 96 dots per inch.
int32_t Himetric(double px) {
  return static_cast<int32_t>(
      std::llround(px * kHimetricPerInch / kMetafileDotsPerInch));
}

}  // namespace

std::vector<uint8_t> WmfToEmf(std::span<const uint8_t> bytes) {
  // First the frame: the placeable box, the first window, or what the
  // records draw.
  Scan scan;
  Window walked;
  Walk(bytes, &scan, [&](uint16_t function, const Params& p) {
    switch (function) {
      case kSetMapMode:
        if (!p.Has(1)) break;
        walked.mode = p.U(0);
        if (!scan.first_mode) scan.first_mode = walked.mode;
        break;
      case kSetWindowOrg:
        if (!p.Has(2)) break;
        walked.org_x = p.S(1);
        walked.org_y = p.S(0);
        if (!scan.first_org) scan.first_org = {walked.org_x, walked.org_y};
        break;
      case kOffsetWindowOrg:
        if (!p.Has(2)) break;
        walked.org_x += p.S(1);
        walked.org_y += p.S(0);
        break;
      case kSetWindowExt:
        if (p.Has(2) && !scan.first_ext) scan.first_ext = {p.S(1), p.S(0)};
        break;
      default:
        AddDrawn(function, p, walked, &scan.drawn);
        break;
    }
  });
  double width_px = 0;  // the logical size
  double height_px = 0;
  std::array<int32_t, 4> window = {0, 0, 0, 0};  // org x, y, ext x, y
  bool framed = true;
  if (scan.placeable) {
    const double to_px =
        static_cast<double>(kMetafileDotsPerInch) / scan.units_per_inch;
    const int32_t left = std::min(scan.box[0], scan.box[2]);
    const int32_t top = std::min(scan.box[1], scan.box[3]);
    const int32_t cx = std::abs(scan.box[2] - scan.box[0]);
    const int32_t cy = std::abs(scan.box[3] - scan.box[1]);
    window = {left, top, cx, cy};
    width_px = cx * to_px;
    height_px = cy * to_px;
  } else if (scan.first_ext && !Metric(scan.first_mode.value_or(kMmText))) {
    const auto org = scan.first_org.value_or(std::array<int32_t, 2>{0, 0});
    window = {org[0], org[1], (*scan.first_ext)[0], (*scan.first_ext)[1]};
    width_px = std::abs(window[2]);
    height_px = std::abs(window[3]);
  } else {
    framed = false;
    if (scan.drawn.Empty()) {
      RaiseInvalidPicture("WMF: no window and nothing drawn");
    }
    width_px = scan.drawn.right - scan.drawn.left;
    height_px = scan.drawn.bottom - scan.drawn.top;
  }
  const int32_t frame_cx = Himetric(width_px);
  const int32_t frame_cy = Himetric(height_px);
  if (frame_cx <= 0 || frame_cy <= 0 ||
      (framed && (window[2] == 0 || window[3] == 0))) {
    RaiseInvalidPicture("WMF: an empty frame");
  }

  EmfOut out;
  // The header: frame and bounds in the reference device's pixels, which
  // are hundredths of a millimetre.
  out.Begin(emf::kHeader);
  out.PutI(0).PutI(0).PutI(frame_cx - 1).PutI(frame_cy - 1);
  out.PutI(0).PutI(0).PutI(frame_cx).PutI(frame_cy);
  out.Put32(0x464D4520).Put32(0x10000);
  out.Put32(0).Put32(0);  // size and records, set at the end
  out.Put16(0).Put16(0);  // handles, set at the end
  out.Put32(0).Put32(0).Put32(0);
  out.PutI(kDevicePx).PutI(kDevicePx);
  out.PutI(kDeviceMm).PutI(kDeviceMm);
  out.End();
  // The frame's place: the window (the box, or the file's first) onto
  // the whole frame; or, for a picture framed by what it draws, its own
  // mapping moved so that what it draws starts at the frame's corner.
  Translator translator(scan.objects, &out);
  if (framed) {
    out.Record(emf::kSetMapMode, {kMmAnisotropic});
    out.Record(emf::kSetWindowOrgEx, {window[0], window[1]});
    out.Record(emf::kSetWindowExtEx, {window[2], window[3]});
    out.Record(emf::kSetViewportExtEx, {frame_cx, frame_cy});
  } else {
    translator.keep_mapping = true;
    // The reference device's pixels for one at 96 dots per inch.
    const double scale = kHimetricPerInch / kMetafileDotsPerInch;
    out.Record(emf::kSetViewportOrgEx, {std::llround(-scan.drawn.left * scale),
                                        std::llround(-scan.drawn.top * scale)});
    // MM_TEXT's unit, a pixel, stays one 96th of an inch.
    out.Record(emf::kSetMapMode, {kMmAnisotropic});
    out.Record(emf::kSetWindowExtEx,
               {kMetafileDotsPerInch, kMetafileDotsPerInch});
    out.Record(emf::kSetViewportExtEx,
               {static_cast<int64_t>(kHimetricPerInch),
                static_cast<int64_t>(kHimetricPerInch)});
  }
  Scan rescan;
  Walk(bytes, &rescan, [&](uint16_t function, const Params& p) {
    if (!framed && function == kSetMapMode && p.Has(1) && !Metric(p.U(0))) {
      return;  // not metric: one 96th of an inch a unit, as set above
    }
    translator.Play(function, p);
  });
  out.Record(emf::kEof, {0, 16, 20});
  std::vector<uint8_t> emf = std::move(out.bytes());
  const auto put = [&](size_t at, uint32_t v, int length) {
    for (int i = 0; i < length; ++i) {
      emf[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
  };
  put(48, static_cast<uint32_t>(emf.size()), 4);
  put(52, out.records(), 4);
  put(56, std::min<uint32_t>(translator.handles(), 0xFFFF), 2);
  if (emf.size() > kWmfToEmfGrowth * bytes.size() + kWmfToEmfOverhead) {
    RaiseInvalidPicture("WMF: its drawing grows past the translation's bound");
  }
  return emf;
}

DecodedImage DecodeWmf(std::span<const uint8_t> bytes, const DecodeHint& hint,
                       DecodeBudget& budget) {
  const std::vector<uint8_t> emf = WmfToEmf(bytes);
  return DecodeEmf(emf, hint, budget);
}

}  // namespace vg::decoders::decoders_internal
