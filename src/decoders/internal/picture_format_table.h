// File: decoders/internal/picture_format_table.h
//
// The table of formats (decoders/picture_formats.h), each row with the
// function that decodes its format. The rows that the fronts list are taken
// from here when picture_formats.cpp is compiled, and only DecodeBytes()
// reads the functions: a program that lists the formats, or decodes only in
// decoder processes, links none of the decoders and loads none of their
// libraries.
//
//   const PictureFormatEntry* entry = FindPictureFormatEntry(format);
//   if (entry != nullptr) return entry->decode(bytes, hint, budget);
//
// Adding a format: its row here, with its MIME types above it.
#ifndef VG_DECODERS_INTERNAL_PICTURE_FORMAT_TABLE_H_
#define VG_DECODERS_INTERNAL_PICTURE_FORMAT_TABLE_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "decoders/decode_picture.h"
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
#include "decoders/picture_formats.h"

namespace vg::decoders::decoders_internal {

class DecodeBudget;

// Decodes `bytes`, known to be of the row's format, taking the memory it
// holds from `budget` first, or raises the picture error of the failure
// (platform::Error, as DecodePictureBytes() does).
using DecodeFunction = DecodedImage (*)(std::span<const uint8_t> bytes,
                                        const DecodeHint& hint,
                                        DecodeBudget& budget);

struct PictureFormatEntry {
  PictureFormatRow row;
  DecodeFunction decode = nullptr;
};

// The MIME types of shared-mime-info and of the desktop files that other
// programs install for these formats; a file manager offers a program, or
// asks a thumbnailer, by any of them.
inline constexpr MimeType kJpegTypes[] = {{"image/jpeg", "jpg jpeg jpe"}};
inline constexpr MimeType kPngTypes[] = {{"image/png", "png"}};
inline constexpr MimeType kGifTypes[] = {{"image/gif", "gif"}};
inline constexpr MimeType kBmpTypes[] = {{"image/bmp", "bmp dib"},
                                         {"image/x-bmp", ""}};
inline constexpr MimeType kIcoTypes[] = {{"image/vnd.microsoft.icon", "ico"},
                                         {"image/x-icon", ""}};
inline constexpr MimeType kCurTypes[] = {{"image/x-win-bitmap", "cur"}};
inline constexpr MimeType kWebpTypes[] = {{"image/webp", "webp"}};
inline constexpr MimeType kTiffTypes[] = {{"image/tiff", "tif tiff"}};
inline constexpr MimeType kHeifTypes[] = {
    {"image/heif", "heic heif hif"}, {"image/heic", ""},
    {"image/heif-sequence", ""},     {"image/heic-sequence", ""},
    {"image/avif", "avif"},          {"image/avif-sequence", ""},
};
inline constexpr MimeType kRawTypes[] = {
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
inline constexpr MimeType kWmfTypes[] = {
    {"image/wmf", "wmf"},         {"image/x-wmf", ""},
    {"image/x-win-metafile", ""}, {"application/x-wmf", ""},
    {"application/wmf", ""},      {"application/x-msmetafile", ""},
};
inline constexpr MimeType kEmfTypes[] = {
    {"image/emf", "emf"},
    {"image/x-emf", ""},
    {"application/x-emf", ""},
    {"application/emf", ""},
};

// QtGui's readers, told which format they are given.
template <PictureFormat kFormat>
DecodedImage DecodeWithQtAs(std::span<const uint8_t> bytes,
                            const DecodeHint& hint, DecodeBudget& budget) {
  return DecodeWithQt(bytes, kFormat, hint, budget);
}

// Our reader first; QtGui reads the forms it returns nothing for.
inline DecodedImage DecodeBmpElseWithQt(std::span<const uint8_t> bytes,
                                        const DecodeHint& hint,
                                        DecodeBudget& budget) {
  if (std::optional<DecodedImage> bmp = DecodeBmp(bytes, hint, budget)) {
    return std::move(*bmp);
  }
  return DecodeWithQtAs<PictureFormat::kBmp>(bytes, hint, budget);
}

// Most camera RAW files are TIFF-shaped. libraw has the first say: a file
// it recognises and that has a DNG version or a camera maker is a RAW;
// anything else is read as a TIFF.
inline DecodedImage DecodeRawElseTiff(std::span<const uint8_t> bytes,
                                      const DecodeHint& hint,
                                      DecodeBudget& budget) {
  if (std::optional<DecodedImage> raw = DecodeRaw(bytes, hint, budget)) {
    return std::move(*raw);
  }
  return DecodeTiff(bytes, hint, budget);
}

inline DecodedImage DecodeRawOnly(std::span<const uint8_t> bytes,
                                  const DecodeHint& hint,
                                  DecodeBudget& budget) {
  if (std::optional<DecodedImage> raw = DecodeRaw(bytes, hint, budget)) {
    return std::move(*raw);
  }
  RaiseInvalidPicture("RAW: not a camera file that libraw reads");
}

inline constexpr std::array<PictureFormatEntry, 12> kPictureFormatTable = {{
    {.row = {.format = PictureFormat::kJpeg,
             .name = "JPEG",
             .mime_types = kJpegTypes},
     .decode = &DecodeJpeg},
    {.row = {.format = PictureFormat::kPng,
             .name = "PNG",
             .mime_types = kPngTypes},
     .decode = &DecodePng},
    {.row = {.format = PictureFormat::kGif,
             .name = "GIF",
             .mime_types = kGifTypes},
     .decode = &DecodeWithQtAs<PictureFormat::kGif>},
    {.row = {.format = PictureFormat::kBmp,
             .name = "BMP",
             .mime_types = kBmpTypes},
     .decode = &DecodeBmpElseWithQt},
    {.row = {.format = PictureFormat::kIco,
             .name = "ICO",
             .mime_types = kIcoTypes},
     .decode = &DecodeWithQtAs<PictureFormat::kIco>},
    {.row = {.format = PictureFormat::kCur,
             .name = "CUR",
             .mime_types = kCurTypes},
     .decode = &DecodeWithQtAs<PictureFormat::kCur>},
    {.row = {.format = PictureFormat::kWebp,
             .name = "WebP",
             .mime_types = kWebpTypes},
     .decode = &DecodeWebp},
    {.row = {.format = PictureFormat::kTiff,
             .name = "TIFF",
             .mime_types = kTiffTypes},
     .decode = &DecodeRawElseTiff},
    {.row = {.format = PictureFormat::kHeif,
             .name = "HEIC/HEIF, AVIF",
             .thumbnailer = true,
             .mime_types = kHeifTypes},
     .decode = &DecodeHeif},
    {.row = {.format = PictureFormat::kRaw,
             .name = "camera RAW files such as DNG, CR2, NEF, ARW",
             .thumbnailer = true,
             .mime_types = kRawTypes},
     .decode = &DecodeRawOnly},
    {.row = {.format = PictureFormat::kWmf,
             .name = "WMF",
             .metafile = true,
             .thumbnailer = true,
             .mime_types = kWmfTypes},
     .decode = &DecodeWmf},
    {.row = {.format = PictureFormat::kEmf,
             .name = "EMF",
             .metafile = true,
             .thumbnailer = true,
             .mime_types = kEmfTypes},
     .decode = &DecodeEmf},
}};

// Returns the entry of `format`, or nullptr for kUnknown.
inline const PictureFormatEntry* FindPictureFormatEntry(PictureFormat format) {
  for (const PictureFormatEntry& entry : kPictureFormatTable) {
    if (entry.row.format == format) return &entry;
  }
  return nullptr;
}

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_PICTURE_FORMAT_TABLE_H_
