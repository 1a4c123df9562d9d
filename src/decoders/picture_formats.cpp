#include "decoders/picture_formats.h"

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "decoders/internal/bmp_reader.h"
#include "decoders/internal/emf_player.h"
#include "decoders/internal/heif_decoder.h"
#include "decoders/internal/jpeg_decoder.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/png_decoder.h"
#include "decoders/internal/qt_decoder.h"
#include "decoders/internal/raw_decoder.h"
#include "decoders/internal/tiff_decoder.h"
#include "decoders/internal/webp_decoder.h"
#include "decoders/internal/wmf_reader.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

namespace di = decoders_internal;

// The MIME types of shared-mime-info and of the desktop files that other
// programs install for these formats; a file manager offers a program, or
// asks a thumbnailer, by any of them.
constexpr MimeType kJpegTypes[] = {{"image/jpeg", "jpg jpeg jpe"}};
constexpr MimeType kPngTypes[] = {{"image/png", "png"}};
constexpr MimeType kGifTypes[] = {{"image/gif", "gif"}};
constexpr MimeType kBmpTypes[] = {{"image/bmp", "bmp dib"},
                                  {"image/x-bmp", ""}};
constexpr MimeType kIcoTypes[] = {{"image/vnd.microsoft.icon", "ico"},
                                  {"image/x-icon", ""}};
constexpr MimeType kCurTypes[] = {{"image/x-win-bitmap", "cur"}};
constexpr MimeType kWebpTypes[] = {{"image/webp", "webp"}};
constexpr MimeType kTiffTypes[] = {{"image/tiff", "tif tiff"}};
constexpr MimeType kHeifTypes[] = {
    {"image/heif", "heic heif hif"}, {"image/heic", ""},
    {"image/heif-sequence", ""},     {"image/heic-sequence", ""},
    {"image/avif", "avif"},          {"image/avif-sequence", ""},
};
constexpr MimeType kRawTypes[] = {
    {"image/x-adobe-dng", "dng"},    {"image/x-canon-cr2", "cr2"},
    {"image/x-canon-cr3", "cr3"},    {"image/x-canon-crw", "crw"},
    {"image/x-nikon-nef", "nef"},    {"image/x-nikon-nrw", "nrw"},
    {"image/x-sony-arw", "arw"},     {"image/x-sony-sr2", "sr2"},
    {"image/x-sony-srf", "srf"},     {"image/x-fuji-raf", "raf"},
    {"image/x-olympus-orf", "orf"},  {"image/x-panasonic-rw2", "rw2"},
    {"image/x-panasonic-rw", "raw"}, {"image/x-pentax-pef", "pef"},
    {"image/x-minolta-mrw", "mrw"},  {"image/x-sigma-x3f", "x3f"},
    {"image/x-kodak-kdc", "kdc"},    {"image/x-kodak-dcr", "dcr"},
    {"image/x-kodak-k25", "k25"},    {"image/x-samsung-srw", ""},
    {"image/x-dcraw", ""},
};
constexpr MimeType kWmfTypes[] = {
    {"image/wmf", "wmf"},         {"image/x-wmf", ""},
    {"image/x-win-metafile", ""}, {"application/x-wmf", ""},
    {"application/wmf", ""},      {"application/x-msmetafile", ""},
};
constexpr MimeType kEmfTypes[] = {
    {"image/emf", "emf"},
    {"image/x-emf", ""},
    {"application/x-emf", ""},
    {"application/emf", ""},
};

// QtGui's readers, told which format they are given.
template <PictureFormat kFormat>
DecodedImage DecodeWithQtAs(std::span<const uint8_t> bytes,
                            const DecodeHint& hint, di::DecodeBudget& budget) {
  return di::DecodeWithQt(bytes, kFormat, hint, budget);
}

// Our reader first; QtGui reads the forms it returns nothing for.
DecodedImage DecodeBmpElseWithQt(std::span<const uint8_t> bytes,
                                 const DecodeHint& hint,
                                 di::DecodeBudget& budget) {
  if (std::optional<DecodedImage> bmp = di::DecodeBmp(bytes, hint, budget)) {
    return std::move(*bmp);
  }
  return DecodeWithQtAs<PictureFormat::kBmp>(bytes, hint, budget);
}

// Most camera RAW files are TIFF-shaped. libraw has the first say: a file
// it recognises and that has a DNG version or a camera maker is a RAW;
// anything else is read as a TIFF.
DecodedImage DecodeRawElseTiff(std::span<const uint8_t> bytes,
                               const DecodeHint& hint,
                               di::DecodeBudget& budget) {
  if (std::optional<DecodedImage> raw = di::DecodeRaw(bytes, hint, budget)) {
    return std::move(*raw);
  }
  return di::DecodeTiff(bytes, hint, budget);
}

DecodedImage DecodeRawOnly(std::span<const uint8_t> bytes,
                           const DecodeHint& hint, di::DecodeBudget& budget) {
  if (std::optional<DecodedImage> raw = di::DecodeRaw(bytes, hint, budget)) {
    return std::move(*raw);
  }
  di::RaiseInvalidPicture("RAW: not a camera file that libraw reads");
}

constexpr std::array<PictureFormatRow, 12> kRows = {{
    {.format = PictureFormat::kJpeg,
     .name = "JPEG",
     .mime_types = kJpegTypes,
     .decode = &di::DecodeJpeg},
    {.format = PictureFormat::kPng,
     .name = "PNG",
     .mime_types = kPngTypes,
     .decode = &di::DecodePng},
    {.format = PictureFormat::kGif,
     .name = "GIF",
     .mime_types = kGifTypes,
     .decode = &DecodeWithQtAs<PictureFormat::kGif>},
    {.format = PictureFormat::kBmp,
     .name = "BMP",
     .mime_types = kBmpTypes,
     .decode = &DecodeBmpElseWithQt},
    {.format = PictureFormat::kIco,
     .name = "ICO",
     .mime_types = kIcoTypes,
     .decode = &DecodeWithQtAs<PictureFormat::kIco>},
    {.format = PictureFormat::kCur,
     .name = "CUR",
     .mime_types = kCurTypes,
     .decode = &DecodeWithQtAs<PictureFormat::kCur>},
    {.format = PictureFormat::kWebp,
     .name = "WebP",
     .mime_types = kWebpTypes,
     .decode = &di::DecodeWebp},
    {.format = PictureFormat::kTiff,
     .name = "TIFF",
     .mime_types = kTiffTypes,
     .decode = &DecodeRawElseTiff},
    {.format = PictureFormat::kHeif,
     .name = "HEIC/HEIF, AVIF",
     .thumbnailer = true,
     .mime_types = kHeifTypes,
     .decode = &di::DecodeHeif},
    {.format = PictureFormat::kRaw,
     .name = "camera RAW files such as DNG, CR2, NEF, ARW",
     .thumbnailer = true,
     .mime_types = kRawTypes,
     .decode = &DecodeRawOnly},
    {.format = PictureFormat::kWmf,
     .name = "WMF",
     .metafile = true,
     .thumbnailer = true,
     .mime_types = kWmfTypes,
     .decode = &di::DecodeWmf},
    {.format = PictureFormat::kEmf,
     .name = "EMF",
     .metafile = true,
     .thumbnailer = true,
     .mime_types = kEmfTypes,
     .decode = &di::DecodeEmf},
}};

}  // namespace

std::span<const PictureFormatRow> PictureFormats() { return kRows; }

const PictureFormatRow* FindPictureFormat(PictureFormat format) {
  for (const PictureFormatRow& row : kRows) {
    if (row.format == format) return &row;
  }
  return nullptr;
}

std::string PictureFormatList() {
  std::string pictures;
  std::vector<std::string_view> metafiles;
  for (const PictureFormatRow& row : kRows) {
    if (row.metafile) {
      metafiles.push_back(row.name);
    } else {
      pictures += pictures.empty() ? "" : ", ";
      pictures += row.name;
    }
  }
  if (metafiles.empty()) return pictures;
  pictures += ", and the ";
  for (size_t k = 0; k < metafiles.size(); ++k) {
    if (k > 0) pictures += k + 1 == metafiles.size() ? " and " : ", ";
    pictures += metafiles[k];
  }
  return pictures + " metafiles";
}

}  // namespace vg::decoders
