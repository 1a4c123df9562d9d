#include "decoders/decode_picture.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <span>
#include <string>

#include "decoders/decoder_processes.h"
#include "decoders/internal/batch_heap.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_file.h"
#include "decoders/internal/picture_format.h"
#include "decoders/picture_formats.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using decoders_internal::RaiseFileTooLarge;
using decoders_internal::RaisePictureError;

// Refuses bytes of no format read here, showing how they start, which is
// often enough to tell what they are ("%PDF-1.7", "<!DOCTYPE", "PK").
[[noreturn]] void RaiseUnknownFormat(std::span<const uint8_t> bytes) {
  if (bytes.empty()) decoders_internal::RaiseInvalidPicture("empty file");
  const std::span<const uint8_t> start =
      bytes.first(std::min<size_t>(bytes.size(), 8));
  bool printable = true;
  for (uint8_t b : start) printable = printable && b >= 0x20 && b < 0x7F;
  std::string shown;
  if (printable) {
    shown = "\"" + std::string(start.begin(), start.end()) + "\"";
  } else {
    for (uint8_t b : start) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%s%02X", shown.empty() ? "" : " ", b);
      shown += hex;
    }
  }
  decoders_internal::RaiseInvalidPicture(
      "not a format read here; the file starts with " + shown);
}

}  // namespace

DecodedImage DecodePictureFile(std::u16string_view path,
                               const DecodeHint& hint) {
  int64_t length = 0;
  decoders_internal::FileDescriptor file =
      decoders_internal::OpenPictureFile(path, length);
  if (DecoderProcesses* processes = InstalledDecoderProcesses()) {
    return processes->Decode(file.get(), length, hint);
  }
  // Decoded here: with the budget the decodes of this process share.
  return decoders_internal::DecodeOpenPictureFile(
      file.get(), length, hint, decoders_internal::SharedDecodeBudget());
}

void TuneAllocatorForBatches() { decoders_internal::PrepareBatchHeap(); }

DecodedImage DecodePictureBytes(std::span<const uint8_t> bytes,
                                const DecodeHint& hint) {
  return decoders_internal::DecodeBytes(
      bytes, hint, decoders_internal::SharedDecodeBudget());
}

namespace decoders_internal {

DecodedImage DecodeBytes(std::span<const uint8_t> bytes, const DecodeHint& hint,
                         DecodeBudget& budget) {
  if (bytes.size() > static_cast<uint64_t>(kMaxPictureFileBytes)) {
    RaiseFileTooLarge(static_cast<int64_t>(bytes.size()));
  }
  const PictureFormatRow* row =
      FindPictureFormat(decoders_internal::SniffPictureFormat(bytes));
  if (row == nullptr) RaiseUnknownFormat(bytes);
  try {
    return row->decode(bytes, hint, budget);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
}

}  // namespace decoders_internal

}  // namespace vg::decoders
