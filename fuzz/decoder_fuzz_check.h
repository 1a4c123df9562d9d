// The checks every picture decoder's fuzz target makes on one input: the
// decode must give a well-formed picture or raise 481 (Invalid picture) or 7
// (Out of memory). Each input is decoded twice, every new block of memory
// filled with a different byte each time, and the two pictures must match
// byte for byte: a pixel that depends on memory no decoder wrote shows up
// as a difference. The last two bytes of the input are also the hinted
// target width and height (0 to 255 pixels), so that the reduced decodes
// are reached.
#ifndef VG_FUZZ_DECODER_FUZZ_CHECK_H_
#define VG_FUZZ_DECODER_FUZZ_CHECK_H_

#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

#include "decoders/decode_picture.h"
#include "decoders/internal/decode_budget.h"
#include "platform/error.h"

#if defined(__SANITIZE_ADDRESS__)
#define VG_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VG_FUZZ_ASAN 1
#endif
#endif
#ifdef VG_FUZZ_ASAN
// From <sanitizer/allocator_interface.h>, which GCC does not install.
extern "C" int
__sanitizer_install_malloc_and_free_hooks(  // NOLINT(bugprone-reserved-identifier)
    void (*malloc_hook)(const volatile void*, size_t),
    void (*free_hook)(const volatile void*));
#endif

namespace vg::fuzz {

// The byte new blocks are filled with, or -1 for none.
inline int fill_byte = -1;

#ifdef VG_FUZZ_ASAN
// AddressSanitizer's allocator ignores mallopt, so the fill goes through its
// allocation hook. Blocks over 64 KiB are left alone: they are fresh zero
// pages, which calloc hands out without clearing.
inline constexpr size_t kLargestFilledBlock = size_t{64} << 10;

inline void FillNewBlock(const volatile void* block, size_t size) {
  if (fill_byte >= 0 && block != nullptr && size <= kLargestFilledBlock) {
    std::memset(const_cast<void*>(block), fill_byte, size);
  }
}

inline void IgnoreFreedBlock(const volatile void*) {}
#endif

inline void SetFill(int byte) {
#ifdef VG_FUZZ_ASAN
  static const bool installed = [] {
    __sanitizer_install_malloc_and_free_hooks(FillNewBlock, IgnoreFreedBlock);
    return true;
  }();
  (void)installed;
#endif
  fill_byte = byte;
  // glibc fills a new block with the complement of this byte.
  mallopt(M_PERTURB, byte < 0 ? 0 : byte);
}

// A decode's picture, or the number of the error it raised.
struct Outcome {
  std::optional<vg::decoders::DecodedImage> image;
  int32_t error = 0;
};

// A decoder under test: the bytes, the hint and a budget in, a picture out,
// or a platform::Error raised.
using DecodeFunction = vg::decoders::DecodedImage (*)(
    std::span<const uint8_t>, const vg::decoders::DecodeHint&,
    vg::decoders::decoders_internal::DecodeBudget&);

inline Outcome Decode(DecodeFunction decode, std::span<const uint8_t> bytes,
                      const vg::decoders::DecodeHint& hint, int fill) {
  SetFill(fill);
  Outcome outcome;
  vg::decoders::decoders_internal::DecodeBudget budget(
      vg::decoders::decoders_internal::kSharedDecodeBudgetBytes);
  try {
    outcome.image = decode(bytes, hint, budget);
  } catch (const vg::platform::Error& e) {
    outcome.error = e.number();
    if (e.number() != vg::platform::kErrInvalidPicture &&
        e.number() != vg::platform::kErrOutOfMemory) {
      __builtin_trap();
    }
  }
  // Every lease is given back, however the decode ended.
  if (budget.held() != 0) __builtin_trap();
  SetFill(-1);
  return outcome;
}

// Runs `decode` on one fuzz input and traps on any fault.
inline int FuzzDecoder(DecodeFunction decode, const uint8_t* data,
                       size_t size) {
  std::span<const uint8_t> bytes(data, size);
  vg::decoders::DecodeHint hint;
  if (size >= 2) {
    hint.target_width_px = data[size - 2];
    hint.target_height_px = data[size - 1];
  }
  Outcome first = Decode(decode, bytes, hint, 0x5A);
  Outcome second = Decode(decode, bytes, hint, 0xA5);
  // Memory may run out in one decode and not in the other; nothing else
  // may differ.
  if (first.error == vg::platform::kErrOutOfMemory ||
      second.error == vg::platform::kErrOutOfMemory) {
    return 0;
  }
  if (first.error != second.error) __builtin_trap();
  if (!first.image) return 0;
  const vg::decoders::DecodedImage& image = *first.image;
  const vg::decoders::DecodedImage& again = *second.image;
  bool well_formed =
      image.width > 0 && image.height > 0 && image.pixel_width > 0 &&
      image.pixel_height > 0 && image.pixel_width <= image.width &&
      image.pixel_height <= image.height &&
      image.stride_bytes == image.pixel_width * 4 &&
      image.bgrx.size() == static_cast<size_t>(image.stride_bytes) *
                               static_cast<size_t>(image.pixel_height);
  if (!well_formed) __builtin_trap();
  if (again.width != image.width || again.height != image.height ||
      again.pixel_width != image.pixel_width ||
      again.pixel_height != image.pixel_height || again.bgrx != image.bgrx) {
    __builtin_trap();
  }
  for (size_t i = 3; i < image.bgrx.size(); i += 4) {
    if (image.bgrx[i] != 255) __builtin_trap();
  }
  return 0;
}

}  // namespace vg::fuzz

#endif  // VG_FUZZ_DECODER_FUZZ_CHECK_H_
