// Recognises a picture's format from its first bytes. Internal to
// vg::decoders.
#ifndef VG_DECODERS_INTERNAL_PICTURE_FORMAT_H_
#define VG_DECODERS_INTERNAL_PICTURE_FORMAT_H_

#include <cstdint>
#include <span>

namespace vg::decoders::decoders_internal {

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
             // many camera RAW files look like this too (see
             // decode_picture.cpp for how the two are told apart)
  kHeif,     // an ISO base media "ftyp" box naming an HEIF or AVIF brand
  kRaw,      // a camera RAW container that is not TIFF-shaped (Fujifilm
             // RAF, Olympus ORF, Panasonic RW2, Canon CR3 and CRW, Minolta
             // MRW, Sigma X3F)
};

// Returns the format that `bytes` start with.
PictureFormat SniffPictureFormat(std::span<const uint8_t> bytes);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_PICTURE_FORMAT_H_
