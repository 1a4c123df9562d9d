// The decoder process's heap, set up for a batch of pictures decoded one
// after another. Internal to vg::decoders.
#ifndef VG_DECODERS_INTERNAL_BATCH_HEAP_H_
#define VG_DECODERS_INTERNAL_BATCH_HEAP_H_

namespace vg::decoders::decoders_internal {

// Tunes glibc's allocator for batches (see batch_heap.cpp); called once,
// before the process starts any thread. Behind TuneAllocatorForBatches
// (decode_picture.h).
void PrepareBatchHeap();

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_BATCH_HEAP_H_
