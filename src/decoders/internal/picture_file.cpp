#include "decoders/internal/picture_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "decoders/internal/picture_error.h"
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

}  // namespace vg::decoders::decoders_internal
