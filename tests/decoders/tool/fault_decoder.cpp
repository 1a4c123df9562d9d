// A decoder process for tests: the real one, except that a file starting
// "VGFAULT " followed by a word makes it misbehave as a library might.
//   crash       dies of SIGSEGV            hang    sleeps for ever
//   alloc       allocates without end      write   opens a file to write
//   socket      makes a socket             exec    runs a program
//   kill        signals the program        exit    exits with status 3
//   alpha       replies first with a 1 x 1 image with alpha, unasked
//   chatter     prints a warning on its standard error, then decodes
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <vector>

#include "decoders/decoder_service.h"
#include "decoders/internal/decoder_wire.h"

namespace {

namespace wire = vg::decoders::decoders_internal;

int socket_fd = -1;

void Misbehave(int fd) {
  std::array<char, 24> head{};
  const ssize_t n = pread(fd, head.data(), head.size() - 1, 0);
  if (n < 8 || std::strncmp(head.data(), "VGFAULT ", 8) != 0) return;
  const std::string_view word(head.data() + 8,
                              std::strcspn(head.data() + 8, "\n"));
  if (word == "crash") {
    raise(SIGSEGV);  // as a stray pointer's fault would end it
  } else if (word == "hang") {
    for (;;) {
      timespec second{1, 0};
      nanosleep(&second, nullptr);
    }
  } else if (word == "alloc") {
    std::vector<std::unique_ptr<char[]>> hoard;
    for (;;) {
      hoard.push_back(std::make_unique<char[]>(size_t{64} << 20));
      std::memset(hoard.back().get(), 1, size_t{64} << 20);
    }
  } else if (word == "write") {
    const int out = open("/tmp/vignettes-fault-decoder-was-here",
                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) close(out);
  } else if (word == "socket") {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s >= 0) close(s);
  } else if (word == "exec") {
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    execv("/bin/true", argv);
  } else if (word == "kill") {
    kill(getppid(), SIGTERM);
  } else if (word == "exit") {
    _exit(3);
  } else if (word == "chatter") {
    std::fputs("Corrupt JPEG data: 86 extraneous bytes before marker 0x01\n",
               stderr);
    std::fflush(stderr);
  } else if (word == "alpha") {
    wire::WireMessage image;
    image.type = wire::WireType::kImage;
    image.flags = wire::kPixelsFollow | wire::kHasAlpha;
    image.bytes = 4;
    image.width = image.height = image.pixel_width = image.pixel_height = 1;
    image.stride_bytes = 4;
    const uint8_t pixel[4] = {};
    if (wire::SendWire(socket_fd, image)) {
      (void)!send(socket_fd, pixel, sizeof pixel, MSG_NOSIGNAL);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  auto options = vg::decoders::ParseDecoderArguments(argc, argv);
  if (!options) return 2;
  socket_fd = options->socket_fd;
  options->before_decode = Misbehave;
  vg::decoders::ServeDecoder(*options);
}
