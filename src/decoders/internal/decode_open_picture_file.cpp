// Kept apart from picture_file.cpp, which only opens files, and from
// decode_picture.cpp: what reaches the decoders is here, so that opening a
// picture, or sending it to a decoder process, links none of them.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_file.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/picture_format_table.h"
#include "decoders/internal/png_decoder.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {

namespace {

// Refuses bytes of no format read here, showing how they start, which is
// often enough to tell what they are ("%PDF-1.7", "<!DOCTYPE", "PK").
[[noreturn]] void RaiseUnknownFormat(std::span<const uint8_t> bytes) {
  if (bytes.empty()) RaiseInvalidPicture("empty file");
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
  RaiseInvalidPicture("not a format read here; the file starts with " + shown);
}

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

DecodedImage DecodeBytes(std::span<const uint8_t> bytes, const DecodeHint& hint,
                         DecodeBudget& budget) {
  if (bytes.size() > static_cast<uint64_t>(kMaxPictureFileBytes)) {
    RaiseFileTooLarge(static_cast<int64_t>(bytes.size()));
  }
  const PictureFormatEntry* entry =
      FindPictureFormatEntry(SniffPictureFormat(bytes));
  if (entry == nullptr) RaiseUnknownFormat(bytes);
  try {
    return entry->decode(bytes, hint, budget);
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
}

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
