#include "decoders/internal/batch_heap.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

// After a C library header, which says whether it is glibc's.
#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

namespace vg::decoders::decoders_internal {

// A progressive JPEG needs all its coefficients in memory (about 1.5 x 128
// bytes per 8 x 8 block of a 4:2:0 file: 54 MB for 18 megapixels), and
// libjpeg zeroes them first. Left to glibc's defaults, each such block of
// memory is mapped afresh for every file and unmapped after it, so the
// zeroing pays a page fault every 4 KB, which took half the CPU time of a
// batch of photos. Kept in the heap instead, it is reused from one file to
// the next: blocks up to 32 MB (the most glibc allows) come from the heap,
// and the heap keeps up to 256 MB of free memory. One heap for every thread:
// with one per worker, each would keep its own largest decode, and the
// program's peak would grow with the number of workers; the decode budget
// (decode_budget.h) bounds what that one heap must hold. Set by the
// decoder process (TuneAllocatorForBatches) before any other thread.
//
// The first use of that memory still faults once per 4 KB page. So the
// heap is first grown by 180 MB of address space, untouched (it costs no
// memory until used), advised for 2 MB pages and freed again: the decodes
// that use it later fault once per 2 MB, which counts on a virtual machine,
// where a fault is dear. Without transparent huge pages the advice does
// nothing. What each of these gained: bench/README.md, "What each change
// gained".
void PrepareBatchHeap() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_ARENA_MAX, 1);
#if !defined(__SANITIZE_ADDRESS__)
  constexpr size_t kBlockBytes = size_t{30} << 20;  // under the threshold
  constexpr uintptr_t kHugePageBytes = uintptr_t{2} << 20;
  std::array<void*, 6> blocks{};
  uintptr_t low = UINTPTR_MAX;
  uintptr_t high = 0;
  for (void*& block : blocks) {
    block = std::malloc(kBlockBytes);
    if (block == nullptr) break;
    low = std::min(low, reinterpret_cast<uintptr_t>(block));
    high = std::max(high, reinterpret_cast<uintptr_t>(block) + kBlockBytes);
  }
  low = (low + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  high &= ~(kHugePageBytes - 1);
  if (high > low) {
    // An address worked out as a number: the page-aligned part of the heap.
    madvise(reinterpret_cast<void*>(low),  // NOLINT(performance-no-int-to-ptr)
            high - low, MADV_HUGEPAGE);
  }
  for (void* block : blocks) std::free(block);
#endif
#endif
}

}  // namespace vg::decoders::decoders_internal
