// A picture file opened by path, and the decode of an opened one. Internal
// to vg::decoders: the path is opened where the files are (the program
// itself), the bytes are decoded where the decoders run (a decoder process,
// or the program when it has none).
#ifndef VG_DECODERS_INTERNAL_PICTURE_FILE_H_
#define VG_DECODERS_INTERNAL_PICTURE_FILE_H_

#include <cstdint>
#include <string_view>
#include <utility>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"

namespace vg::decoders::decoders_internal {

// Closes a file descriptor at the end of a scope.
class [[nodiscard]] FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept
      : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }
  int get() const { return fd_; }
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor, if any.
  void Reset();

 private:
  int fd_ = -1;
};

// Opens the regular file at `path` for reading and sets `length` to its
// size; raises 53 or 75 as DecodePictureFile does.
FileDescriptor OpenPictureFile(std::u16string_view path, int64_t& length);

// Raises 7 "Picture file too large" for a file of `length` bytes, over
// kMaxPictureFileBytes.
[[noreturn]] void RaiseFileTooLarge(int64_t length);

// Decodes `bytes` as DecodePictureBytes does, the decoders taking what they
// hold from `budget`.
DecodedImage DecodeBytes(std::span<const uint8_t> bytes, const DecodeHint& hint,
                         DecodeBudget& budget);

// Decodes the picture in the open file `fd` (`length` bytes when opened) as
// DecodePictureFile does, with `budget` as DecodeBytes; `fd` stays open.
DecodedImage DecodeOpenPictureFile(int fd, int64_t length,
                                   const DecodeHint& hint,
                                   DecodeBudget& budget);

// What DecodePictureFile does with the open file `fd` when the program has
// no decoder process installed. Each program links one of its two
// definitions (decoders/link/): vg::decode_here decodes in this process with
// the budget its decodes share (the tests, the benchmarks, the decoder
// program); vg::decode_in_processes_only refuses (the fronts: they read the
// pictures users point them at only in decoder processes, and so link none
// of the decoders nor load their libraries).
DecodedImage DecodeWithoutProcesses(int fd, int64_t length,
                                    const DecodeHint& hint);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_PICTURE_FILE_H_
