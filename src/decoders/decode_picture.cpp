#include "decoders/decode_picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "decoders/internal/emf_player.h"
#include "decoders/internal/jpeg_decoder.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/qt_decoder.h"
#include "decoders/internal/wmf_reader.h"
#include "platform/code_page.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using decoders_internal::PictureFormat;
using decoders_internal::RaisePictureError;

// Closes a file descriptor at the end of a scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::vector<uint8_t> ReadWholeFile(std::u16string_view path) {
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
  if (info.st_size > kMaxPictureFileBytes) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    RaisePictureError(platform::kErrOutOfMemory);
  }
  // The file may shrink while it is read: keep what was there.
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = read(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaisePictureError(platform::kErrPathFileAccess);
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace

DecodedImage DecodePictureFile(std::u16string_view path,
                               const DecodeHint& hint) {
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  return DecodePictureBytes(bytes, hint);
}

void TuneAllocatorForBatches() { decoders_internal::PrepareAllocator(); }

DecodedImage DecodePictureBytes(std::span<const uint8_t> bytes,
                                const DecodeHint& hint) {
  if (bytes.size() > static_cast<uint64_t>(kMaxPictureFileBytes)) {
    RaisePictureError(platform::kErrInvalidPicture);
  }
  PictureFormat format = decoders_internal::SniffPictureFormat(bytes);
  try {
    switch (format) {
      case PictureFormat::kJpeg:
        return decoders_internal::DecodeJpeg(bytes, hint);
      case PictureFormat::kBmp:
      case PictureFormat::kIco:
      case PictureFormat::kCur:
      case PictureFormat::kGif:
      case PictureFormat::kPng:
        return decoders_internal::DecodeWithQt(bytes, format, hint);
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
