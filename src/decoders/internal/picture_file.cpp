#include "decoders/internal/picture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/png_decoder.h"
#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::decoders::decoders_internal {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void FileDescriptor::Reset() {
  if (fd_ >= 0) close(std::exchange(fd_, -1));
}

void RaiseFileTooLarge(int64_t length) {
  throw platform::Error(platform::kErrOutOfMemory, platform::ProgramName(),
                        "Picture file too large: " +
                            std::to_string((length + (1 << 20) - 1) >> 20) +
                            " MB, over " +
                            std::to_string(kMaxPictureFileBytes >> 20) + " MB");
}

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

FileDescriptor OpenPictureFile(std::u16string_view path, int64_t& length) {
  std::string native = platform::ToAnsi(path);
  if (native.empty()) RaisePictureError(platform::kErrFileNotFound);
  // Non-blocking: opening a FIFO must not wait for a writer. A regular
  // file reads the same either way.
  FileDescriptor file(open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) {
    RaisePictureError(errno == ENOENT || errno == ENOTDIR
                          ? platform::kErrFileNotFound
                          : platform::kErrPathFileAccess);
  }
  struct stat info {};
  if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    RaisePictureError(platform::kErrPathFileAccess);
  }
  length = info.st_size;
  return file;
}

DecodedImage DecodeOpenPictureFile(int fd, int64_t length,
                                   const DecodeHint& hint) {
  // A PNG is read as it is decoded, never whole: any length will do.
  if (IsPngFile(fd)) {
    try {
      return DecodePngFile(fd, hint);
    } catch (const std::bad_alloc&) {
      RaisePictureError(platform::kErrOutOfMemory);
    }
  }
  std::vector<uint8_t> bytes = ReadWholeFile(fd, length);
  return DecodePictureBytes(bytes, hint);
}

}  // namespace vg::decoders::decoders_internal
