// File: decoders/decoder_service.h
//
// The decoder process's side: what `vignettes-decoder` runs. It loads what
// the decoders load lazily, confines itself (decoders/internal/
// confinement.h), greets the program over the socket it was given, then
// decodes one picture at a time from the descriptors the program sends,
// each into the shared pixel memory, until the socket closes. It opens no
// path once confined but the fonts the metafiles draw text with.
//
//   int main(int argc, char** argv) {
//     return vg::decoders::ServeDecoder(vg::decoders::ParseDecoderArguments(
//         argc, argv));
//   }
//
// The program's side is decoders/decoder_processes.h. Not for use inside
// the program itself: it confines the whole process it runs in.
#ifndef VG_DECODERS_DECODER_SERVICE_H_
#define VG_DECODERS_DECODER_SERVICE_H_

#include <cstdint>
#include <functional>
#include <optional>

namespace vg::decoders {

struct DecoderServiceOptions {
  // The socket to the program (SOCK_SEQPACKET).
  int socket_fd = 3;
  // Its data limit in bytes (0: none).
  int64_t memory_limit_bytes = 0;
  // Called with each picture's descriptor, once confined, before the
  // picture is decoded: a test program's way to make a decoder misbehave.
  std::function<void(int fd)> before_decode;
};

// Reads "--socket FD --memory-limit BYTES"; nothing when they are wrong.
std::optional<DecoderServiceOptions> ParseDecoderArguments(int argc,
                                                           char** argv);

// Serves the program until it closes the socket, then ends the process
// with status 0 (2 when the socket was not one, or said something else
// than expected), without static destructors or a leak report: the
// program is who hears of a decoder's end.
[[noreturn]] void ServeDecoder(const DecoderServiceOptions& options);

}  // namespace vg::decoders

#endif  // VG_DECODERS_DECODER_SERVICE_H_
