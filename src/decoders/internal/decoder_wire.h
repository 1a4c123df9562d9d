// What the program and a decoder process say to each other over their
// socket pair (AF_UNIX, SOCK_SEQPACKET: one message a datagram, in order).
// Internal to vg::decoders.
//
//   decoder -> program   kHello      once, with the pixel memfd attached
//   program -> decoder   kDecode     the picture's descriptor attached, its
//                                    hint, and a credit the program has
//                                    taken from its decode budget for it
//   decoder -> program   kLease      bytes it asks of the decode budget
//                                    (and its credit back, if unused)
//   program -> decoder   kGranted    the lease is taken
//   decoder -> program   kRelease    bytes it gives back
//   decoder -> program   kImage      sizes, whether it has alpha; the pixels
//                                    are in the memfd, or (kPixelsFollow)
//                                    in datagrams of at most
//                                    kPixelChunkBytes that follow it
//   decoder -> program   kError      number, source and description
//
// The pixel memfd holds a status page (kStatusBytes) and then the pixels of
// the last image, top-down BGRX (or BGRA) rows. The status page outlives the
// decoder: what it wrote there before it died (an allocation refused, the
// call the filter refused) names its failure.
#ifndef VG_DECODERS_INTERNAL_DECODER_WIRE_H_
#define VG_DECODERS_INTERNAL_DECODER_WIRE_H_

#include <cstdint>
#include <optional>
#include <string>

#include "decoders/decode_picture.h"

namespace vg::decoders::decoders_internal {

enum class WireType : uint32_t {
  kHello = 1,
  kDecode,
  kLease,
  kGranted,
  kRelease,
  kImage,
  kError,
};

// What a decoder process applied to itself (kHello's `flags`).
enum ConfinementFlags : uint32_t {
  kNoNewPrivs = 1u << 0,   // prctl(PR_SET_NO_NEW_PRIVS)
  kSeccomp = 1u << 1,      // its seccomp-bpf allow-list
  kLandlock = 1u << 2,     // no file system access at all
  kMemoryLimit = 1u << 3,  // RLIMIT_DATA
  kNoCoreFiles = 1u << 4,  // RLIMIT_CORE 0
  kFewFiles = 1u << 5,     // RLIMIT_NOFILE, every other descriptor closed
};

struct WireMessage {
  WireType type = WireType::kHello;
  uint32_t flags = 0;       // kHello: ConfinementFlags; kDecode, kImage:
                            // the flags below
  int64_t bytes = 0;        // kDecode: file length; kLease/kRelease: bytes;
                            // kImage: pixel bytes; kHello: memory limit
  int64_t credit = 0;       // kDecode: bytes of budget taken for it;
                            // kLease: that credit, given back unused
  int32_t number = 0;       // kError: the error's number; kHello: Landlock ABI
  int32_t hint_width = 0;   // kDecode
  int32_t hint_height = 0;  // kDecode
  int32_t width = 0;        // kImage: as DecodedImage
  int32_t height = 0;
  int32_t pixel_width = 0;
  int32_t pixel_height = 0;
  int32_t stride_bytes = 0;
  PixelArea area;              // kImage: as DecodedImage
  char source[64] = {};        // kError, NUL-ended
  char description[256] = {};  // kError, NUL-ended
};

// kDecode's `flags`: the hint's keep_alpha.
inline constexpr uint32_t kKeepAlpha = 1;
// kImage's `flags`: the pixels did not fit in the memfd (a file size
// limit, `ulimit -f`, counts its size too) and come over the socket; the
// image has alpha (DecodedImage::has_alpha), which only a kDecode with
// kKeepAlpha may bring back.
inline constexpr uint32_t kPixelsFollow = 1;
inline constexpr uint32_t kHasAlpha = 2;
inline constexpr size_t kPixelChunkBytes = size_t{64} << 10;

// Copies what a kImage message and a DecodedImage both state of a picture
// (its sizes and area) from `from` to `to`, either way round: the one list
// of what crosses the wire with the pixels.
template <class From, class To>
void CopyImageSizes(const From& from, To& to) {
  to.width = from.width;
  to.height = from.height;
  to.pixel_width = from.pixel_width;
  to.pixel_height = from.pixel_height;
  to.stride_bytes = from.stride_bytes;
  to.area = from.area;
}

// The status page at the start of the pixel memfd, written by the decoder.
struct WireStatus {
  uint32_t allocation_refused = 0;  // an allocation failed under its limit
  int32_t refused_call = -1;        // the system call its filter refused
};
inline constexpr int64_t kStatusBytes = 4096;

// The credit taken for each picture: what a small picture's decode holds
// (a 640 x 480 photo's takes under 1 MB), so that it needs no round trip
// to the program for its lease. Larger, it would keep large pictures of
// other jobs waiting for the budget: 16 MB made two jobs of two sizes
// 20 % slower on the large photos.
inline constexpr int64_t kDecodeCreditBytes = int64_t{4} << 20;

// Sends `message`, with `fd` attached when it is 0 or more. Returns false
// when the peer is gone or the socket failed; never raises SIGPIPE.
bool SendWire(int socket_fd, const WireMessage& message, int fd = -1);

// Receives one message into `message`; a descriptor that came with it goes
// to `*fd` (the caller closes it), or is closed when `fd` is null. Returns
// false at the end of the stream, on an error or a message of the wrong
// size.
bool ReceiveWire(int socket_fd, WireMessage& message, int* fd = nullptr);

// Copies `text` into `out` (size `n`), cut to fit, NUL-ended.
void CopyWireText(const std::string& text, char* out, size_t n);

// Reads a NUL-ended field of `n` bytes (NUL added if missing).
std::string WireText(const char* field, size_t n);

}  // namespace vg::decoders::decoders_internal

#endif  // VG_DECODERS_INTERNAL_DECODER_WIRE_H_
