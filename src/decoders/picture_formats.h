// File: decoders/picture_formats.h
//
// The formats this program reads, one row each: the format its first bytes
// show, the name users read and the MIME types the desktop gives its files
// (with the extensions shared-mime-info knows them by). The fronts take
// their lists from here: --help's formats, the thumbnail cache's MIME type
// of a file name, and the tests that hold the manual pages, the desktop
// entry and the thumbnailer entry to this table.
//
//   for (const PictureFormatRow& row : PictureFormats()) {
//     for (const MimeType& type : row.mime_types) Offer(type.name);
//   }
//
// Adding a format: a value of PictureFormat, its test in SniffPictureFormat()
// (decoders/internal/picture_format.cpp), its reader, and its row, with the
// function that decodes it, in decoders/internal/picture_format_table.h;
// then the tests name the data files to bring along.
//
// Not for telling a file's format: that is the sniffer's job, from content.
#ifndef VG_DECODERS_PICTURE_FORMATS_H_
#define VG_DECODERS_PICTURE_FORMATS_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vg::decoders {

enum class PictureFormat {
  kUnknown,  // none of the below
  kJpeg,     // FF D8 FF
  kPng,      // 89 "PNG" 0D 0A 1A 0A
  kGif,      // "GIF87a" or "GIF89a"
  kBmp,      // "BM"
  kIco,      // 00 00 01 00 and at least one image
  kCur,      // 00 00 02 00 and at least one image
  kWmf,      // placeable (D7 CD C6 9A) or plain metafile header
  kEmf,      // EMR_HEADER record with " EMF" at offset 40
  kWebp,     // "RIFF", a length, "WEBP"
  kTiff,     // "II*\0" or "MM\0*" (classic) or "II+\0" / "MM\0+" (BigTIFF);
             // many camera RAW files look like this too (see the TIFF row
             // in internal/picture_format_table.h for how the two are
             // told apart)
  kHeif,     // an ISO base media "ftyp" box naming an HEIF or AVIF brand
  kRaw,      // a camera RAW container that is not TIFF-shaped (Fujifilm
             // RAF, Olympus ORF, Panasonic RW2, Canon CR3 and CRW, Minolta
             // MRW, Sigma X3F)
};

struct MimeType {
  std::string_view name;        // "image/jpeg"
  std::string_view extensions;  // "jpg jpeg jpe": lower case, space-separated
                                // globs of shared-mime-info that give this
                                // type; empty for a type known by another
                                // name's files (an alias such as image/x-wmf)
};

struct PictureFormatRow {
  PictureFormat format = PictureFormat::kUnknown;
  std::string_view name;     // as --help and the manual pages list it
  bool metafile = false;     // listed among "the ... metafiles" after the rest
  bool thumbnailer = false;  // offered to the desktop's thumbnail factory by
                             // vignettes.thumbnailer: the desktop has no
                             // thumbnailer of its own for it
  std::span<const MimeType> mime_types;
};

// Returns every row, in the order the lists show them. The rows live as
// long as the program.
std::span<const PictureFormatRow> PictureFormats();

// Returns the row of `format`, or nullptr for kUnknown.
const PictureFormatRow* FindPictureFormat(PictureFormat format);

// Returns the formats as the lists for users name them: the pictures
// separated by commas, then the metafiles ("JPEG, PNG, ..., and the WMF
// and EMF metafiles").
std::string PictureFormatList();

}  // namespace vg::decoders

#endif  // VG_DECODERS_PICTURE_FORMATS_H_
