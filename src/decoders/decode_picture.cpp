#include "decoders/decode_picture.h"

#include <new>
#include <optional>
#include <utility>

#include "decoders/decoder_processes.h"
#include "decoders/internal/batch_heap.h"
#include "decoders/internal/bmp_reader.h"
#include "decoders/internal/emf_player.h"
#include "decoders/internal/heif_decoder.h"
#include "decoders/internal/jpeg_decoder.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_file.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/png_decoder.h"
#include "decoders/internal/qt_decoder.h"
#include "decoders/internal/raw_decoder.h"
#include "decoders/internal/tiff_decoder.h"
#include "decoders/internal/webp_decoder.h"
#include "decoders/internal/wmf_reader.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using decoders_internal::PictureFormat;
using decoders_internal::RaiseFileTooLarge;
using decoders_internal::RaisePictureError;

}  // namespace

DecodedImage DecodePictureFile(std::u16string_view path,
                               const DecodeHint& hint) {
  int64_t length = 0;
  decoders_internal::FileDescriptor file =
      decoders_internal::OpenPictureFile(path, length);
  if (DecoderProcesses* processes = InstalledDecoderProcesses()) {
    return processes->Decode(file.get(), length, hint);
  }
  return decoders_internal::DecodeOpenPictureFile(file.get(), length, hint);
}

void TuneAllocatorForBatches() { decoders_internal::PrepareBatchHeap(); }

DecodedImage DecodePictureBytes(std::span<const uint8_t> bytes,
                                const DecodeHint& hint) {
  if (bytes.size() > static_cast<uint64_t>(kMaxPictureFileBytes)) {
    RaiseFileTooLarge(static_cast<int64_t>(bytes.size()));
  }
  PictureFormat format = decoders_internal::SniffPictureFormat(bytes);
  try {
    switch (format) {
      case PictureFormat::kJpeg:
        return decoders_internal::DecodeJpeg(bytes, hint);
      case PictureFormat::kBmp:
        if (std::optional<DecodedImage> bmp =
                decoders_internal::DecodeBmp(bytes, hint)) {
          return std::move(*bmp);
        }
        return decoders_internal::DecodeWithQt(bytes, format, hint);
      case PictureFormat::kIco:
      case PictureFormat::kCur:
      case PictureFormat::kGif:
        return decoders_internal::DecodeWithQt(bytes, format, hint);
      case PictureFormat::kPng:
        return decoders_internal::DecodePng(bytes, hint);
      case PictureFormat::kWebp:
        return decoders_internal::DecodeWebp(bytes, hint);
      case PictureFormat::kTiff:
        // Most camera RAW files are TIFF-shaped. libraw has the first say:
        // a file it recognises and that has a DNG version or a camera maker
        // is a RAW; anything else is read as a TIFF.
        if (std::optional<DecodedImage> raw =
                decoders_internal::DecodeRaw(bytes, hint)) {
          return std::move(*raw);
        }
        return decoders_internal::DecodeTiff(bytes, hint);
      case PictureFormat::kHeif:
        return decoders_internal::DecodeHeif(bytes, hint);
      case PictureFormat::kRaw:
        if (std::optional<DecodedImage> raw =
                decoders_internal::DecodeRaw(bytes, hint)) {
          return std::move(*raw);
        }
        break;
      case PictureFormat::kWmf:
        return decoders_internal::DecodeWmf(bytes, hint);
      case PictureFormat::kEmf:
        return decoders_internal::DecodeEmf(bytes, hint);
      case PictureFormat::kUnknown:
        break;
    }
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  RaisePictureError(platform::kErrInvalidPicture);
}

}  // namespace vg::decoders
