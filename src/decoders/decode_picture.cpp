#include "decoders/decode_picture.h"

#include <new>

#include "decoders/decoder_processes.h"
#include "decoders/internal/jpeg_decoder.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_file.h"
#include "decoders/internal/picture_format.h"
#include "decoders/picture_formats.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

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

void TuneAllocatorForBatches() { decoders_internal::PrepareAllocator(); }

DecodedImage DecodePictureBytes(std::span<const uint8_t> bytes,
                                const DecodeHint& hint) {
  if (bytes.size() > static_cast<uint64_t>(kMaxPictureFileBytes)) {
    RaiseFileTooLarge(static_cast<int64_t>(bytes.size()));
  }
  const PictureFormatRow* row =
      FindPictureFormat(decoders_internal::SniffPictureFormat(bytes));
  if (row == nullptr) RaisePictureError(platform::kErrInvalidPicture);
  try {
    return row->decode(bytes, hint);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
}

}  // namespace vg::decoders
