// File: decoders/decoder_processes.h
//
// Pictures decoded in decoder processes: every byte of a picture a user
// points us at is read by C libraries (libjpeg-turbo, libpng, QtGui's
// readers, libwebp, libtiff, libheif, libraw) in a process that can
// do nothing else: it holds no file but the picture it is sent, cannot open
// one to write, make a socket, start a program or signal another process,
// and has a limit on its memory (decoders/internal/confinement.h). The
// program opens each picture, sends its descriptor, and gets the pixels
// back through shared memory.
//
// A decoder that crashes, passes the deadline, runs out of its memory or
// makes a forbidden call costs its picture only: the picture fails with a
// reason that says which ("decoder crashed (signal 11)", "decoder took
// longer than 20 s", "decoder ran out of its 2048 MB", "decoder made a
// forbidden call (socket)"), the process is replaced, the run goes on.
//
//   DecoderProcesses processes({.timeout_seconds = 20});
//   UseDecoderProcesses in_scope(processes);  // DecodePictureFile uses them
//   DecodedImage image = DecodePictureFile(u"/in/a.jpg", {150, 0});
//
// One process per caller at a time: a run with N jobs has N of them,
// started as they are first needed and kept until `processes` goes. The
// decode budget holds across them: each asks the program's budget for what
// it will hold.
#ifndef VG_DECODERS_DECODER_PROCESSES_H_
#define VG_DECODERS_DECODER_PROCESSES_H_

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "decoders/decode_picture.h"

namespace vg::decoders {

// The deadline of one picture's decode, unless told otherwise.
inline constexpr double kDefaultDecodeTimeoutSeconds = 20;
// A decoder process's data (heap and private maps): room for the largest
// file read whole (1 GiB) beside a picture at the pixel limit.
inline constexpr int64_t kDecoderMemoryLimitBytes = int64_t{2048} << 20;

struct DecoderProcessOptions {
  // The decoder program; empty: FindDecoderExecutable().
  std::string executable;
  // Wall-clock seconds one picture's decode may take (time spent waiting
  // for the decode budget not counted).
  double timeout_seconds = kDefaultDecodeTimeoutSeconds;
  // Each process's data limit (0: none).
  int64_t memory_limit_bytes = kDecoderMemoryLimitBytes;
};

// What a decoder process applied to itself.
struct DecoderConfinement {
  bool no_new_privileges = false;
  bool seccomp = false;
  int landlock_abi = 0;  // 0: the kernel has no Landlock
  bool memory_limit = false;
  int64_t memory_limit_bytes = 0;
  bool no_core_files = false;
  bool few_files = false;
};

class DecoderProcesses {
 public:
  explicit DecoderProcesses(DecoderProcessOptions options = {});
  // Ends every decoder process and waits for it.
  ~DecoderProcesses();
  DecoderProcesses(const DecoderProcesses&) = delete;
  DecoderProcesses& operator=(const DecoderProcesses&) = delete;

  // Decodes the picture in the open file `fd` (`length` bytes), as
  // DecodePictureFile does, in a decoder process; `fd` stays open.
  // Raises what the decoders raise, and for a decoder's own failure 481
  // (7 when it ran out of memory) with the reasons above; "decoder could
  // not be started: ..." when no process can be had.
  DecodedImage Decode(int fd, int64_t length, const DecodeHint& hint);

  // Returns what the decoder processes apply, starting one when none runs.
  // Raises as Decode does when none can be started.
  DecoderConfinement Confinement();

  // Returns the process ids of the decoder processes now running.
  std::vector<pid_t> Pids() const;
  // Returns those of them that are decoding a picture now.
  std::vector<pid_t> BusyPids() const;

  const DecoderProcessOptions& options() const { return options_; }

 private:
  struct Process;
  std::unique_ptr<Process> Checkout();
  void Checkin(std::unique_ptr<Process> process);
  std::unique_ptr<Process> Start();

  DecoderProcessOptions options_;
  mutable std::mutex mutex_;
  bool warned_ = false;  // of a weaker confinement, once
  std::vector<std::unique_ptr<Process>> idle_;
  std::vector<pid_t> busy_;
};

// Makes DecodePictureFile (and so LoadPicture and the thumbnail engine)
// decode in `processes` for the length of a scope; the previous ones, if
// any, again after it. Install it from a program's main or a front's run,
// before any decode starts.
class [[nodiscard]] UseDecoderProcesses {
 public:
  explicit UseDecoderProcesses(DecoderProcesses& processes);
  ~UseDecoderProcesses();
  UseDecoderProcesses(const UseDecoderProcesses&) = delete;
  UseDecoderProcesses& operator=(const UseDecoderProcesses&) = delete;

 private:
  DecoderProcesses* previous_;
};

// Returns the processes in use (null: pictures are decoded in-process).
DecoderProcesses* InstalledDecoderProcesses();

// Opens the picture file at `path` and decodes it in `processes`, as
// DecodePictureFile does with processes installed, raising the same errors.
// A program that calls only this links none of the decoders' libraries:
// the desktop's thumbnailer starts in a few milliseconds.
DecodedImage DecodePictureFileIn(DecoderProcesses& processes,
                                 std::u16string_view path,
                                 const DecodeHint& hint);

// Returns the decoder program: $VIGNETTES_DECODER when set, else
// `vignettes-decoder` beside the running program, in the libexec folder
// beside its own (<prefix>/libexec/vignettes/), or where the build tree
// puts it. Empty when none is there.
std::string FindDecoderExecutable();

// Describes `confinement` on a few lines ("seccomp: allow-list ...").
std::string DescribeConfinement(const DecoderConfinement& confinement);

}  // namespace vg::decoders

#endif  // VG_DECODERS_DECODER_PROCESSES_H_
