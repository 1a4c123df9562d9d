// The confinement a decoder process puts itself in once its libraries are
// loaded, before it reads any picture. Internal to vg::decoders.
//
// In order: no core files, a limit on its data (heap and private maps),
// few descriptors; no new privileges; Landlock with no file system access
// but reading the fonts metafiles draw text with, where the kernel has it;
// a seccomp-bpf allow-list. Opening a file to read is the filter's to
// allow and Landlock's to fence. What the allow-list lacks is refused one
// of two ways: a call that only looks (at a folder's names, at a path's
// access) fails with EACCES, as it would for a file out of reach; a call
// that would act outside the process (opening a file to write, a socket,
// running a program, tracing, a signal to another process, a new process)
// ends the process with SIGSYS, after its number is noted in the status
// page.
#ifndef VG_DECODERS_INTERNAL_CONFINEMENT_H_
#define VG_DECODERS_INTERNAL_CONFINEMENT_H_

#include <cstdint>

namespace vg::decoders::decoders_internal {

struct Confinement {
  uint32_t flags = 0;        // ConfinementFlags (decoder_wire.h) in force
  int32_t landlock_abi = 0;  // the kernel's Landlock ABI; 0 without
};

// Confines the calling process (one thread only: call it before any other
// starts). `memory_limit_bytes` bounds its data (0: none); `status_fd` is
// the memfd whose status page names a refused call. Descriptors from
// `keep_below` on are closed, and only a few more may be opened. Never
// fails: a mechanism the kernel lacks is left out of the returned flags.
Confinement ConfineDecoderProcess(int64_t memory_limit_bytes, int status_fd,
                                  int keep_below);

// True when this build runs under AddressSanitizer, whose shadow memory
// cannot live under a data limit: such builds set none.
bool SanitizedBuild();

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_CONFINEMENT_H_
