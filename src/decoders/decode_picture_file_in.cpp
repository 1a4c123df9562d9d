// Kept apart from decode_picture.cpp, which reaches every decoder: a program
// that decodes only in decoder processes links this file and not those.
#include "decoders/decoder_processes.h"
#include "decoders/internal/picture_file.h"

namespace vg::decoders {

DecodedImage DecodePictureFileIn(DecoderProcesses& processes,
                                 std::u16string_view path,
                                 const DecodeHint& hint) {
  int64_t length = 0;
  decoders_internal::FileDescriptor file =
      decoders_internal::OpenPictureFile(path, length);
  return processes.Decode(file.get(), length, hint);
}

}  // namespace vg::decoders
