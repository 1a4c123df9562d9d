// Kept apart from picture_file.cpp, which only opens files: what reaches
// the decoders is here, so that opening a picture links none of them.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <new>
#include <vector>

#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_file.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/png_decoder.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {

namespace {

// Returns true when the file starts with the PNG signature.
bool IsPngFile(int fd) {
  std::array<uint8_t, 8> start{};
  ssize_t n = 0;
  do {
    n = pread(fd, start.data(), start.size(), 0);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(start.size()) &&
         SniffPictureFormat(start) == PictureFormat::kPng;
}

std::vector<uint8_t> ReadWholeFile(int fd, int64_t length) {
  if (length > kMaxPictureFileBytes) RaiseFileTooLarge(length);
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  // The file may shrink while it is read: keep what was there.
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaisePictureError(platform::kErrPathFileAccess);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace

DecodedImage DecodeOpenPictureFile(int fd, int64_t length,
                                   const DecodeHint& hint,
                                   DecodeBudget& budget) {
  // A PNG is read as it is decoded, never whole: any length will do.
  if (IsPngFile(fd)) {
    try {
      return DecodePngFile(fd, hint, budget);
    } catch (const std::bad_alloc&) {
      RaisePictureError(platform::kErrOutOfMemory);
    }
  }
  std::vector<uint8_t> bytes = ReadWholeFile(fd, length);
  return DecodeBytes(bytes, hint, budget);
}

}  // namespace vg::decoders::decoders_internal
