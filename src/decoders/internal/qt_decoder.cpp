#include "decoders/internal/qt_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QColorSpace>
#include <QColorTransform>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decoders/internal/byte_order.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/png_decoder.h"
#include "decoders/internal/row_reducer.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {
namespace {

// Qt's own cap on one image's memory, in MiB. Our header checks come first;
// this one catches what a header does not tell (an icon's embedded PNG), and
// leaves room for the 8 bytes per pixel of a 16-bit PNG at our pixel limit.
constexpr int kQtAllocationLimitMib = 1100;

void SetQtAllocationLimit() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QImageReader::allocationLimit() < kQtAllocationLimitMib) {
      QImageReader::setAllocationLimit(kQtAllocationLimitMib);
    }
  });
}

// The formats QtGui is asked to read, by the name its plug-ins go by.
constexpr std::pair<PictureFormat, const char*> kQtFormatNames[] = {
    {PictureFormat::kBmp, "bmp"}, {PictureFormat::kIco, "ico"},
    {PictureFormat::kCur, "cur"}, {PictureFormat::kGif, "gif"},
    {PictureFormat::kPng, "png"},
};

// Returns the name of `format` for QImageReader, nullptr for a format that
// is not read through QtGui.
const char* QtFormatName(PictureFormat format) {
  for (const auto& [listed, name] : kQtFormatNames) {
    if (listed == format) return name;
  }
  return nullptr;
}

// The format's name as a reason gives it: "GIF".
std::string ShownName(const char* name) {
  std::string shown = name;
  for (char& c : shown) c = static_cast<char>(std::toupper(c));
  return shown;
}

// What rows the file does not hold show: the grey of a JPEG cut short. A
// palette picture shows its first colour instead.
constexpr QRgb kUnwrittenColour = 0xFF808080;

// Returns the bytes of a QImage of width x height pixels of `format`, rows
// padded to 4 bytes as QImage pads them.
int64_t QtImageBytes(int64_t width, int64_t height, QImage::Format format) {
  int64_t bits = QImage::toPixelFormat(format).bitsPerPixel();
  return (width * bits + 31) / 32 * 4 * height;
}

// Turns the rows of a picture as Qt read it, in any of its formats, into
// BGRX: colours converted to sRGB, transparent parts composited on white, or
// kept as straight alpha (BGRA; a pixel of alpha 0 is 0, 0, 0, 0). Works on
// a copy of one row at a time, so that the rows can be written over the
// picture they come from.
class RowConverter {
 public:
  RowConverter(const QImage& image, bool keep_alpha)
      : image_(image), colours_(image.colorTable()), keep_alpha_(keep_alpha) {
    QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
      to_srgb_ = space.transformationToColorSpace(QColorSpace::SRgb);
      convert_colours_ = true;
    }
    opaque_ = image.format() == QImage::Format_RGB32;
    direct_ = !convert_colours_ &&
              (opaque_ || image.format() == QImage::Format_ARGB32);
  }

  // Writes row `y` as image.width() BGRX (BGRA) pixels at `out`. Returns
  // true when alpha is kept and some pixel of the row is less than opaque.
  bool Convert(int32_t y, uint8_t* out) const {
    QImage argb;
    const QRgb* in = nullptr;
    if (direct_) {
      in = reinterpret_cast<const QRgb*>(image_.constScanLine(y));
    } else {
      QImage row(image_.constScanLine(y), image_.width(), 1,
                 image_.bytesPerLine(), image_.format());
      if (!colours_.isEmpty()) row.setColorTable(colours_);
      // Palette indices past the table come out opaque black.
      argb = row.convertToFormat(QImage::Format_ARGB32);
      if (argb.isNull()) RaisePictureError(platform::kErrOutOfMemory);
      if (convert_colours_) argb.applyColorTransform(to_srgb_);
      in = reinterpret_cast<const QRgb*>(argb.constScanLine(0));
    }
    bool translucent = false;
    for (int32_t x = 0; x < image_.width(); ++x, out += 4) {
      QRgb p = in[x];
      // The fourth byte of an RGB32 pixel means nothing.
      unsigned a = opaque_ ? 255u : static_cast<unsigned>(qAlpha(p));
      if (a == 255 || keep_alpha_) {
        const bool clear = a == 0;
        out[0] = clear ? 0 : static_cast<uint8_t>(qBlue(p));
        out[1] = clear ? 0 : static_cast<uint8_t>(qGreen(p));
        out[2] = clear ? 0 : static_cast<uint8_t>(qRed(p));
        out[3] = static_cast<uint8_t>(a);
        translucent |= a != 255;
        continue;
      }
      unsigned white = 255 * (255 - a) + 127;
      out[0] = static_cast<uint8_t>((qBlue(p) * a + white) / 255);
      out[1] = static_cast<uint8_t>((qGreen(p) * a + white) / 255);
      out[2] = static_cast<uint8_t>((qRed(p) * a + white) / 255);
      out[3] = 255;
    }
    return translucent;
  }

 private:
  const QImage& image_;
  QList<QRgb> colours_;
  QColorTransform to_srgb_;
  bool keep_alpha_;
  bool convert_colours_ = false;
  bool opaque_ = false;
  bool direct_ = false;
};

// Returns a DecodedImage for `image` reduced by `factor` (1: none), made in
// a buffer of its own, its alpha kept when `keep_alpha`.
DecodedImage ConvertInto(const QImage& image, int32_t factor, bool keep_alpha) {
  const int32_t width = image.width();
  const int32_t height = image.height();
  std::optional<RowReducer> reducer;
  std::vector<uint8_t> row;
  try {
    reducer.emplace(width, height, factor,
                    keep_alpha ? RowLayout::kBgra : RowLayout::kBgrx,
                    keep_alpha);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  Allocate(row, static_cast<size_t>(width) * 4);
  RowConverter converter(image, keep_alpha);
  for (int32_t y = 0; y < height; ++y) {
    converter.Convert(y, row.data());
    reducer->AddRow(row.data());
  }
  return reducer->Finish();
}

// A reader over the file's bytes; the buffer lives as long as the reader.
class OpenReader {
 public:
  OpenReader(const QByteArray& data, const char* format)
      : bytes_(data), buffer_(&bytes_) {
    if (buffer_.open(QIODevice::ReadOnly)) reader_.setDevice(&buffer_);
    reader_.setFormat(format);
    reader_.setAutoDetectImageFormat(false);
    reader_.setDecideFormatFromContent(false);
    // None of these readers reports an orientation.
    reader_.setAutoTransform(false);
  }
  QImageReader& get() { return reader_; }

 private:
  QByteArray bytes_;  // QBuffer wants a non-const array
  QBuffer buffer_;
  QImageReader reader_;
};

// Decodes image `index` of the file, or returns nothing when Qt's reader
// fails. Takes the decode's memory from `budget` before any pixel
// is allocated.
//
// Qt's BMP and PNG readers take a QImage of the right size and format as
// given and write the rows the file holds into it; a BMP cut short, or
// whose runs skip pixels, leaves the others as they were. So the picture is
// read into memory of ours, filled first, and converted there in place when
// it is no larger than the result. The icon reader reads every row or fails,
// and the GIF reader clears its canvas first: those two allocate their own.
std::optional<DecodedImage> ReadImage(const QByteArray& data,
                                      PictureFormat format, int index,
                                      std::optional<StatedSize> stated,
                                      const DecodeHint& hint,
                                      DecodeBudget& budget,
                                      bool png_means_srgb = false) {
  const bool ours =
      format == PictureFormat::kBmp || format == PictureFormat::kPng;
  QImage::Format qt_format = QImage::Format_Invalid;
  for (int attempt = 0; attempt < 2; ++attempt) {
    OpenReader open(data, QtFormatName(format));
    QImageReader& reader = open.get();
    if (index > 0 && !reader.jumpToImage(index)) return std::nullopt;
    QSize size = reader.size();
    // A BMP stored top-down states a negative height.
    if (format == PictureFormat::kBmp) size.setHeight(std::abs(size.height()));
    if (!size.isValid()) return std::nullopt;
    CheckPictureSize(size.width(), size.height());
    const int32_t width = size.width();
    const int32_t height = size.height();
    const int32_t factor = ReductionFactor(width, height, hint);
    const int64_t out_bytes = int64_t{(width + factor - 1) / factor} *
                              ((height + factor - 1) / factor) * 4;
    if (attempt == 0) qt_format = reader.imageFormat();
    if (!ours || qt_format == QImage::Format_Invalid) {
      // A GIF canvas has 4 bytes a pixel and may be larger than its first
      // frame; an icon's PNG may have 8 bytes a pixel.
      int64_t pixels = int64_t{width} * height;
      if (stated) pixels = std::max(pixels, stated->width * stated->height);
      int64_t qt_bytes = pixels * (format == PictureFormat::kGif ? 4 : 8);
      DecodeBudget::Lease lease = budget.Take(qt_bytes + out_bytes);
      QImage image;
      if (ours) {
        // The reader did not say what it makes: learn it, then read again.
        if (!reader.read(&image)) return std::nullopt;
        qt_format = image.format();
        continue;
      }
      if (!reader.read(&image)) return std::nullopt;
      CheckPictureSize(image.width(), image.height());
      if (png_means_srgb) image.setColorSpace(QColorSpace(QColorSpace::SRgb));
      return ConvertInto(image,
                         ReductionFactor(image.width(), image.height(), hint),
                         hint.keep_alpha);
    }
    const int64_t qt_bytes = QtImageBytes(width, height, qt_format);
    const bool in_place =
        factor == 1 && QImage::toPixelFormat(qt_format).bitsPerPixel() <= 32;
    DecodeBudget::Lease lease = budget.Take(
        in_place ? std::max(qt_bytes, out_bytes) : qt_bytes + out_bytes);
    std::vector<uint8_t> buffer;
    Allocate(buffer, static_cast<size_t>(
                         in_place ? std::max(qt_bytes, out_bytes) : qt_bytes));
    QImage image(buffer.data(), width, height,
                 static_cast<qsizetype>(qt_bytes / height), qt_format);
    if (image.isNull()) RaisePictureError(platform::kErrOutOfMemory);
    if (image.colorCount() > 0 || qt_format == QImage::Format_Indexed8 ||
        qt_format == QImage::Format_Mono ||
        qt_format == QImage::Format_MonoLSB) {
      image.fill(0u);
    } else {
      image.fill(QColor::fromRgba(kUnwrittenColour));
    }
    if (!reader.read(&image)) return std::nullopt;
    if (image.constBits() != buffer.data()) {
      // The reader made a picture of its own after all, in a format it did
      // not announce (a BMP whose bit fields hold alpha): read again into
      // that format.
      qt_format = image.format();
      if (attempt > 0) return std::nullopt;
      continue;
    }
    if (!in_place) return ConvertInto(image, factor, hint.keep_alpha);
    // Every BGRX row lies at or after its source row: going up from the
    // bottom, a row is written only over rows already converted.
    RowConverter converter(image, hint.keep_alpha);
    bool translucent = false;
    for (int32_t y = height - 1; y >= 0; --y) {
      translucent |= converter.Convert(
          y, buffer.data() + static_cast<size_t>(y) * width * 4);
    }
    image = QImage();
    DecodedImage out;
    out.width = out.pixel_width = width;
    out.height = out.pixel_height = height;
    out.stride_bytes = width * 4;
    out.has_alpha = translucent;
    buffer.resize(static_cast<size_t>(out_bytes));
    out.bgrx = std::move(buffer);
    return out;
  }
  return std::nullopt;
}

bool HasPngSignature(std::span<const uint8_t> bytes) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P',  'N',  'G',
                                            0x0D, 0x0A, 0x1A, 0x0A};
  return bytes.size() >= 8 &&
         std::equal(kSignature, kSignature + 8, bytes.begin());
}

}  // namespace

bool PngChunksFit(std::span<const uint8_t> png) {
  constexpr uint32_t kMaxChunkBytes = 0x7FFFFFFF;
  constexpr uint8_t kEnd[4] = {'I', 'E', 'N', 'D'};
  size_t at = 8;  // after the signature
  while (at < png.size()) {
    // Length, type, data and CRC.
    if (png.size() - at < 12) return false;
    uint32_t length = Be32(png, at);
    if (length > kMaxChunkBytes || length > png.size() - at - 12) return false;
    if (std::equal(kEnd, kEnd + 4,
                   png.begin() + static_cast<ptrdiff_t>(at) + 4)) {
      return true;
    }
    at += 12 + size_t{length};
  }
  return true;
}

std::optional<StatedSize> HeaderSize(std::span<const uint8_t> bytes,
                                     PictureFormat format) {
  auto abs32 = [&](size_t at) {
    int64_t v = static_cast<int32_t>(Le32(bytes, at));
    return v < 0 ? -v : v;
  };
  switch (format) {
    case PictureFormat::kPng:
      if (bytes.size() < 24) return std::nullopt;
      return StatedSize{int64_t{Be32(bytes, 16)}, int64_t{Be32(bytes, 20)}};
    case PictureFormat::kBmp: {
      if (bytes.size() < 26) return std::nullopt;
      if (Le32(bytes, 14) == 12) {  // the old core header: 16-bit sizes
        return StatedSize{Le16(bytes, 18), Le16(bytes, 20)};
      }
      return StatedSize{abs32(18), abs32(22)};
    }
    case PictureFormat::kGif: {
      if (bytes.size() < 13) return std::nullopt;
      StatedSize size{Le16(bytes, 6), Le16(bytes, 8)};
      size_t at = 13;
      if (bytes[10] & 0x80) at += size_t{3} << ((bytes[10] & 7) + 1);
      // Skip extensions up to the first frame.
      while (at < bytes.size() && bytes[at] == 0x21) {
        at += 2;
        while (at < bytes.size() && bytes[at] != 0) at += 1 + size_t{bytes[at]};
        ++at;
      }
      if (at + 9 <= bytes.size() && bytes[at] == 0x2C) {
        size.width = std::max<int64_t>(
            size.width, int64_t{Le16(bytes, at + 1)} + Le16(bytes, at + 5));
        size.height = std::max<int64_t>(
            size.height, int64_t{Le16(bytes, at + 3)} + Le16(bytes, at + 7));
      }
      return size;
    }
    default:
      return std::nullopt;
  }
}

std::optional<StatedSize> EmbeddedIconSize(std::span<const uint8_t> image) {
  if (image.size() >= 24 && HasPngSignature(image)) {
    return StatedSize{Be32(image, 16), Be32(image, 20)};
  }
  // A device-independent bitmap whose height counts the colour rows and the
  // transparency mask rows.
  if (image.size() >= 12 && Le32(image, 0) >= 12) {
    bool core = Le32(image, 0) == 12;
    int64_t width =
        core ? Le16(image, 4) : static_cast<int32_t>(Le32(image, 4));
    int64_t height =
        core ? Le16(image, 6) : static_cast<int32_t>(Le32(image, 8));
    return StatedSize{width < 0 ? -width : width,
                      (height < 0 ? -height : height) / 2};
  }
  return std::nullopt;
}

// Returns the bytes of entry `index` of an icon's directory (empty when
// they lie outside the file).
std::span<const uint8_t> IconEntryImage(std::span<const uint8_t> bytes,
                                        size_t index) {
  const size_t at = 6 + index * 16;
  if (at + 16 > bytes.size()) return {};
  const uint64_t length = Le32(bytes, at + 8);
  const uint64_t offset = Le32(bytes, at + 12);
  if (length == 0 || offset < 6 || offset >= bytes.size() ||
      length > bytes.size() - offset) {
    return {};
  }
  return bytes.subspan(offset, length);
}

// Returns true when a PNG says its colours are sRGB without an ICC profile:
// an sRGB chunk, or a gAMA and cHRM that mean sRGB (GammaMeansSrgb). Qt
// reads the gAMA as a pure power curve, and makes it a profile of its own
// that cannot be told from a real one: the chunks before the pixels decide.
bool PngMeansSrgb(std::span<const uint8_t> png) {
  const auto is = [&](size_t at, const char* type) {
    return std::equal(type, type + 4, png.begin() + static_cast<ptrdiff_t>(at));
  };
  bool srgb = false;
  PngGamma g;
  for (size_t at = 8; png.size() >= 12 && at <= png.size() - 12;) {
    const uint64_t length = Be32(png, at);
    if (length > png.size() - at - 12 || is(at + 4, "iCCP")) return false;
    if (is(at + 4, "IDAT")) break;
    if (is(at + 4, "sRGB")) srgb = true;
    if (is(at + 4, "gAMA") && length == 4) g.gamma = Be32(png, at + 8);
    if (is(at + 4, "cHRM") && length == 32) {
      g.chrm = true;
      for (size_t i = 0; i < 8; ++i) g.xy[i] = Be32(png, at + 8 + i * 4);
    }
    at += 12 + static_cast<size_t>(length);
  }
  return srgb || GammaMeansSrgb(g);
}

// Returns a copy of an icon whose directory gives each image the size its
// own header states, or nothing when it already does. Qt's reader reads a
// bitmap entry at the directory's size; files written by hand or by old
// tools state sizes the image does not have, which every other reader
// ignores.
// The copy is held under `lease`, taken from `budget`.
std::vector<uint8_t> IconWithTrueSizes(std::span<const uint8_t> bytes,
                                       DecodeBudget& budget,
                                       DecodeBudget::Lease* lease) {
  std::vector<uint8_t> out;
  if (bytes.size() < 6) return out;
  const size_t count = Le16(bytes, 4);
  for (size_t i = 0; i < count && 6 + i * 16 + 16 <= bytes.size(); ++i) {
    const std::optional<StatedSize> size =
        EmbeddedIconSize(IconEntryImage(bytes, i));
    if (!size || size->width <= 0 || size->height <= 0 || size->width > 256 ||
        size->height > 256) {
      continue;
    }
    // A side of 256 is written 0.
    const auto width = static_cast<uint8_t>(size->width & 0xFF);
    const auto height = static_cast<uint8_t>(size->height & 0xFF);
    const size_t at = 6 + i * 16;
    if (bytes[at] == width && bytes[at + 1] == height) continue;
    if (out.empty()) {
      *lease = budget.Take(static_cast<int64_t>(bytes.size()));
      Allocate(out, bytes.size());
      std::copy(bytes.begin(), bytes.end(), out.begin());
    }
    out[at] = width;
    out[at + 1] = height;
  }
  return out;
}

std::vector<int> IconCandidates(std::span<const uint8_t> bytes,
                                PictureFormat format) {
  struct Entry {
    int index;
    int64_t area;
    uint32_t bits;
  };
  std::vector<Entry> entries;
  if (bytes.size() < 6) return {};
  size_t count = Le16(bytes, 4);
  for (size_t i = 0; i < count; ++i) {
    size_t at = 6 + i * 16;
    if (at + 16 > bytes.size()) break;
    // For a cursor these two bytes are the hot spot, not a depth.
    uint32_t bits = format == PictureFormat::kIco ? Le16(bytes, at + 6) : 0;
    // The image's own header, not the directory (whose size bytes stop at
    // 256), tells its size; an image over the limits is no candidate.
    const std::span<const uint8_t> image = IconEntryImage(bytes, i);
    if (image.empty()) continue;
    std::optional<StatedSize> size = EmbeddedIconSize(image);
    if (HasPngSignature(image) && !PngChunksFit(image)) continue;
    if (!size || size->width <= 0 || size->height <= 0 ||
        size->width > kMaxPictureSidePx || size->height > kMaxPictureSidePx ||
        size->width * size->height > kMaxPicturePixels) {
      continue;
    }
    entries.push_back({static_cast<int>(i), size->width * size->height, bits});
  }
  std::stable_sort(
      entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.area != b.area ? a.area > b.area : a.bits > b.bits;
      });
  std::vector<int> order;
  for (const Entry& e : entries) order.push_back(e.index);
  return order;
}

DecodedImage DecodeWithQt(std::span<const uint8_t> bytes, PictureFormat format,
                          const DecodeHint& hint, DecodeBudget& budget) {
  const char* name = QtFormatName(format);
  if (name == nullptr || bytes.empty()) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  SetQtAllocationLimit();
  // No copy: the reader sees the caller's bytes for the length of the call.
  const QByteArray data =
      QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<qsizetype>(bytes.size()));
  if (format == PictureFormat::kPng && !PngChunksFit(bytes)) {
    RaiseInvalidPicture("PNG: a chunk runs past the end of the file");
  }
  // Qt's readers allocate what the header says; some do not report it
  // through QImageReader::size(), so check it here.
  std::optional<StatedSize> stated;
  if (format != PictureFormat::kIco && format != PictureFormat::kCur) {
    stated = HeaderSize(bytes, format);
    if (!stated) RaiseInvalidPicture(ShownName(name) + ": damaged header");
    CheckPictureSize(stated->width, stated->height);
  }
  std::vector<int> indexes = {0};
  const bool icon =
      format == PictureFormat::kIco || format == PictureFormat::kCur;
  DecodeBudget::Lease copy_lease;
  std::vector<uint8_t> true_sizes;
  QByteArray icon_data = data;
  if (icon) {
    indexes = IconCandidates(bytes, format);
    true_sizes = IconWithTrueSizes(bytes, budget, &copy_lease);
    if (!true_sizes.empty()) {
      icon_data = QByteArray::fromRawData(
          reinterpret_cast<const char*>(true_sizes.data()),
          static_cast<qsizetype>(true_sizes.size()));
    }
  }
  for (int index : indexes) {
    const std::span<const uint8_t> entry =
        icon ? IconEntryImage(bytes, static_cast<size_t>(index))
             : std::span<const uint8_t>{};
    std::optional<DecodedImage> image =
        ReadImage(icon ? icon_data : data, format, index, stated, hint, budget,
                  HasPngSignature(entry) && PngMeansSrgb(entry));
    if (image) return std::move(*image);
  }
  RaiseInvalidPicture(ShownName(name) + ": no image in it can be read");
}

}  // namespace vg::decoders::decoders_internal
