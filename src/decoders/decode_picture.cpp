// Reaches no decoder: a program that decodes only in decoder processes
// links the refusing DecodeWithoutProcesses() (decoders/link/) and so none
// of the decoders.
#include "decoders/decode_picture.h"

#include <cstdint>

#include "decoders/decoder_processes.h"
#include "decoders/internal/batch_heap.h"
#include "decoders/internal/picture_file.h"

namespace vg::decoders {

DecodedImage DecodePictureFile(std::u16string_view path,
                               const DecodeHint& hint) {
  int64_t length = 0;
  decoders_internal::FileDescriptor file =
      decoders_internal::OpenPictureFile(path, length);
  if (DecoderProcesses* processes = InstalledDecoderProcesses()) {
    return processes->Decode(file.get(), length, hint);
  }
  return decoders_internal::DecodeWithoutProcesses(file.get(), length, hint);
}

void TuneAllocatorForBatches() { decoders_internal::PrepareBatchHeap(); }

}  // namespace vg::decoders
