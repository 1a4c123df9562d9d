#include "decoders/internal/qt_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <mutex>
#include <new>
#include <optional>

#include "decoders/internal/picture_error.h"
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

const char* QtFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kBmp:
      return "bmp";
    case PictureFormat::kIco:
      return "ico";
    case PictureFormat::kCur:
      return "cur";
    case PictureFormat::kGif:
      return "gif";
    case PictureFormat::kPng:
      return "png";
    default:
      return nullptr;
  }
}

uint32_t ReadLe(std::span<const uint8_t> bytes, size_t at, int length) {
  uint32_t v = 0;
  for (int i = length - 1; i >= 0; --i) v = v << 8 | bytes[at + i];
  return v;
}

uint32_t ReadBe32(std::span<const uint8_t> bytes, size_t at) {
  return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
         uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

// Returns the upright picture of `image` in our layout, transparent parts
// composited on white and converted to sRGB.
DecodedImage ToDecodedImage(const QImage& image) {
  QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  if (argb.isNull()) RaisePictureError(platform::kErrOutOfMemory);
  QColorSpace space = argb.colorSpace();
  if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
    argb.convertToColorSpace(QColorSpace::SRgb);
  }
  DecodedImage out;
  out.width = out.pixel_width = argb.width();
  out.height = out.pixel_height = argb.height();
  out.stride_bytes = out.pixel_width * 4;
  try {
    out.bgrx.resize(static_cast<size_t>(out.stride_bytes) *
                    static_cast<size_t>(out.pixel_height));
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  for (int y = 0; y < argb.height(); ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
    uint8_t* row = out.bgrx.data() + static_cast<size_t>(y) * out.stride_bytes;
    for (int x = 0; x < argb.width(); ++x, row += 4) {
      QRgb p = in[x];
      unsigned a = static_cast<unsigned>(qAlpha(p));
      unsigned white = 255 * (255 - a) + 127;
      row[0] = static_cast<uint8_t>((qBlue(p) * a + white) / 255);
      row[1] = static_cast<uint8_t>((qGreen(p) * a + white) / 255);
      row[2] = static_cast<uint8_t>((qRed(p) * a + white) / 255);
      row[3] = 255;
    }
  }
  return out;
}

// Reads image `index` of the file, or returns a null image.
QImage ReadImage(const QByteArray& data, const char* format, int index) {
  QByteArray shared = data;  // QBuffer wants a non-const array
  QBuffer buffer(&shared);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer, format);
  reader.setAutoDetectImageFormat(false);
  reader.setDecideFormatFromContent(false);
  reader.setAutoTransform(true);
  if (index > 0 && !reader.jumpToImage(index)) return {};
  QSize size = reader.size();
  if (size.isValid()) CheckPictureSize(size.width(), size.height());
  QImage image;
  if (!reader.read(&image)) return {};
  return image;
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
    uint32_t length = ReadBe32(png, at);
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
    int64_t v = static_cast<int32_t>(ReadLe(bytes, at, 4));
    return v < 0 ? -v : v;
  };
  switch (format) {
    case PictureFormat::kPng:
      if (bytes.size() < 24) return std::nullopt;
      return StatedSize{int64_t{ReadBe32(bytes, 16)},
                        int64_t{ReadBe32(bytes, 20)}};
    case PictureFormat::kBmp: {
      if (bytes.size() < 26) return std::nullopt;
      if (ReadLe(bytes, 14, 4) == 12) {  // the old core header: 16-bit sizes
        return StatedSize{ReadLe(bytes, 18, 2), ReadLe(bytes, 20, 2)};
      }
      return StatedSize{abs32(18), abs32(22)};
    }
    case PictureFormat::kGif: {
      if (bytes.size() < 13) return std::nullopt;
      StatedSize size{ReadLe(bytes, 6, 2), ReadLe(bytes, 8, 2)};
      size_t at = 13;
      if (bytes[10] & 0x80) at += size_t{3} << ((bytes[10] & 7) + 1);
      // Skip extensions up to the first frame.
      while (at < bytes.size() && bytes[at] == 0x21) {
        at += 2;
        while (at < bytes.size() && bytes[at] != 0) at += 1 + size_t{bytes[at]};
        ++at;
      }
      if (at + 9 <= bytes.size() && bytes[at] == 0x2C) {
        size.width =
            std::max<int64_t>(size.width, int64_t{ReadLe(bytes, at + 1, 2)} +
                                              ReadLe(bytes, at + 5, 2));
        size.height =
            std::max<int64_t>(size.height, int64_t{ReadLe(bytes, at + 3, 2)} +
                                               ReadLe(bytes, at + 7, 2));
      }
      return size;
    }
    default:
      return std::nullopt;
  }
}

std::optional<StatedSize> EmbeddedIconSize(std::span<const uint8_t> image) {
  if (image.size() >= 24 && HasPngSignature(image)) {
    return StatedSize{ReadBe32(image, 16), ReadBe32(image, 20)};
  }
  // A device-independent bitmap whose height counts the colour rows and the
  // transparency mask rows.
  if (image.size() >= 12 && ReadLe(image, 0, 4) >= 12) {
    bool core = ReadLe(image, 0, 4) == 12;
    int64_t width =
        core ? ReadLe(image, 4, 2) : static_cast<int32_t>(ReadLe(image, 4, 4));
    int64_t height =
        core ? ReadLe(image, 6, 2) : static_cast<int32_t>(ReadLe(image, 8, 4));
    return StatedSize{width < 0 ? -width : width,
                      (height < 0 ? -height : height) / 2};
  }
  return std::nullopt;
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
  size_t count = ReadLe(bytes, 4, 2);
  for (size_t i = 0; i < count; ++i) {
    size_t at = 6 + i * 16;
    if (at + 16 > bytes.size()) break;
    // For a cursor these two bytes are the hot spot, not a depth.
    uint32_t bits =
        format == PictureFormat::kIco ? ReadLe(bytes, at + 6, 2) : 0;
    uint64_t length = ReadLe(bytes, at + 8, 4);
    uint64_t offset = ReadLe(bytes, at + 12, 4);
    if (length == 0 || offset < 6 || offset >= bytes.size() ||
        length > bytes.size() - offset) {
      continue;
    }
    // The image's own header, not the directory (whose size bytes stop at
    // 256), tells its size; an image over the limits is no candidate.
    std::span<const uint8_t> image = bytes.subspan(offset, length);
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

DecodedImage DecodeWithQt(std::span<const uint8_t> bytes,
                          PictureFormat format) {
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
    RaisePictureError(platform::kErrInvalidPicture);
  }
  // Qt's readers allocate what the header says; some do not report it
  // through QImageReader::size(), so check it here.
  if (format != PictureFormat::kIco && format != PictureFormat::kCur) {
    std::optional<StatedSize> size = HeaderSize(bytes, format);
    if (!size) RaisePictureError(platform::kErrInvalidPicture);
    CheckPictureSize(size->width, size->height);
  }
  std::vector<int> indexes = {0};
  if (format == PictureFormat::kIco || format == PictureFormat::kCur) {
    indexes = IconCandidates(bytes, format);
  }
  for (int index : indexes) {
    QImage image = ReadImage(data, name, index);
    if (image.isNull()) continue;
    CheckPictureSize(image.width(), image.height());
    return ToDecodedImage(image);
  }
  RaisePictureError(platform::kErrInvalidPicture);
}

}  // namespace vg::decoders::decoders_internal
