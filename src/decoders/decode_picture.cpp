#include "decoders/decode_picture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "decoders/internal/emf_player.h"
#include "decoders/internal/heif_decoder.h"
#include "decoders/internal/jpeg_decoder.h"
#include "decoders/internal/picture_error.h"
#include "decoders/internal/picture_format.h"
#include "decoders/internal/png_decoder.h"
#include "decoders/internal/qt_decoder.h"
#include "decoders/internal/raw_decoder.h"
#include "decoders/internal/tiff_decoder.h"
#include "decoders/internal/webp_decoder.h"
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
  FileDescriptor(FileDescriptor&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor& operator=(FileDescriptor&&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens the picture file at `path` for reading; raises 53 or 75 as
// DecodePictureFile does.
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

[[noreturn]] void RaiseFileTooLarge(int64_t length) {
  throw platform::Error(platform::kErrOutOfMemory, platform::ProgramName(),
                        "Picture file too large: " +
                            std::to_string((length + (1 << 20) - 1) >> 20) +
                            " MB, over " +
                            std::to_string(kMaxPictureFileBytes >> 20) + " MB");
}

// Returns true when the file starts with the PNG signature.
bool IsPngFile(int fd) {
  std::array<uint8_t, 8> start{};
  ssize_t n = 0;
  do {
    n = pread(fd, start.data(), start.size(), 0);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(start.size()) &&
         decoders_internal::SniffPictureFormat(start) == PictureFormat::kPng;
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

DecodedImage DecodePictureFile(std::u16string_view path,
                               const DecodeHint& hint) {
  int64_t length = 0;
  FileDescriptor file = OpenPictureFile(path, length);
  // A PNG is read as it is decoded, never whole: any length will do.
  if (IsPngFile(file.get())) {
    try {
      return decoders_internal::DecodePngFile(file.get(), hint);
    } catch (const std::bad_alloc&) {
      RaisePictureError(platform::kErrOutOfMemory);
    }
  }
  std::vector<uint8_t> bytes = ReadWholeFile(file.get(), length);
  return DecodePictureBytes(bytes, hint);
}

void TuneAllocatorForBatches() { decoders_internal::PrepareAllocator(); }

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
