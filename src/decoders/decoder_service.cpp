#include "decoders/decoder_service.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "decoders/decode_picture.h"
#include "decoders/internal/confinement.h"
#include "decoders/internal/decode_budget.h"
#include "decoders/internal/decoder_wire.h"
#include "decoders/internal/picture_file.h"
#include "platform/error.h"

namespace vg::decoders {
namespace {

using decoders_internal::DecodeBudget;
using decoders_internal::WireMessage;
using decoders_internal::WireStatus;
using decoders_internal::WireType;

// The pixel memory is given back to the system after a picture larger
// than this, so a decoder does not keep a large picture's pages for good.
constexpr int64_t kKeptPixelBytes = int64_t{64} << 20;

int status_fd_for_new = -1;

// Notes in the status page that an allocation failed under the limit;
// the decoders then report it (or die of it, as C libraries may).
void OnAllocationRefused() {
  if (status_fd_for_new >= 0) {
    const uint32_t refused = 1;
    (void)!pwrite(status_fd_for_new, &refused, sizeof refused,
                  offsetof(WireStatus, allocation_refused));
  }
  throw std::bad_alloc();
}

// The leases of this process, taken from the program's budget: from the
// credit the program took for this picture before sending it while it
// lasts (no round trip for an ordinary picture), else asked for.
class SocketBroker : public DecodeBudget::Broker {
 public:
  explicit SocketBroker(int socket_fd) : socket_fd_(socket_fd) {}

  // Starts a picture with `credit` bytes already taken by the program.
  void SetCredit(int64_t credit) {
    credit_ = credit_left_ = std::max<int64_t>(credit, 0);
    from_credit_.clear();
  }

  void Take(int64_t bytes) override {
    if (bytes <= credit_left_) {
      credit_left_ -= bytes;
      from_credit_.insert(bytes);
      return;
    }
    WireMessage ask;
    ask.type = WireType::kLease;
    ask.bytes = bytes;
    // A credit still whole goes back with the ask: the program releases it
    // rather than hold it beside this larger lease.
    if (credit_left_ == credit_ && from_credit_.empty()) {
      ask.credit = credit_;
      credit_left_ = 0;
      credit_ = 0;
    }
    WireMessage answer;
    if (!decoders_internal::SendWire(socket_fd_, ask) ||
        !decoders_internal::ReceiveWire(socket_fd_, answer) ||
        answer.type != WireType::kGranted) {
      _exit(0);  // the program is gone
    }
  }

  void Give(int64_t bytes) override {
    if (auto credited = from_credit_.find(bytes);
        credited != from_credit_.end()) {
      from_credit_.erase(credited);
      credit_left_ += bytes;
      return;
    }
    WireMessage give;
    give.type = WireType::kRelease;
    give.bytes = bytes;
    if (!decoders_internal::SendWire(socket_fd_, give)) _exit(0);
  }

 private:
  int socket_fd_;
  int64_t credit_ = 0;  // of this picture, while none of it was given back
  int64_t credit_left_ = 0;
  std::multiset<int64_t> from_credit_;
};

// Loads what the decoders would otherwise load on first use, from files
// out of reach once confined: QtGui's image format plugins.
void LoadLazyParts() {
  for (const char* format : {"gif", "ico", "cur", "bmp"}) {
    QByteArray nothing;
    QBuffer buffer(&nothing);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    (void)reader.canRead();
  }
}

WireMessage ErrorMessage(int32_t number, const std::string& source,
                         const std::string& description) {
  WireMessage m;
  m.type = WireType::kError;
  m.number = number;
  decoders_internal::CopyWireText(source, m.source, sizeof m.source);
  decoders_internal::CopyWireText(description, m.description,
                                  sizeof m.description);
  return m;
}

// Writes the pixels after the status page; false when the memory could
// not be had (or a file size limit keeps the memfd small).
bool PutPixels(int memfd, const DecodedImage& image) {
  const uint8_t* at = image.bgrx.data();
  size_t left = image.bgrx.size();
  off_t offset = decoders_internal::kStatusBytes;
  while (left > 0) {
    const ssize_t n = pwrite(memfd, at, left, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    left -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// Sends the pixels over the socket, a chunk a datagram.
bool SendPixels(int socket_fd, const DecodedImage& image) {
  for (size_t at = 0; at < image.bgrx.size();
       at += decoders_internal::kPixelChunkBytes) {
    const size_t n =
        std::min(decoders_internal::kPixelChunkBytes, image.bgrx.size() - at);
    ssize_t sent = 0;
    do {
      sent = send(socket_fd, image.bgrx.data() + at, n, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(n)) return false;
  }
  return true;
}

WireMessage Decode(const WireMessage& request, int fd, int memfd,
                   const DecoderServiceOptions& options,
                   decoders_internal::DecodeBudget& budget,
                   DecodedImage& image) {
  try {
    if (options.before_decode) options.before_decode(fd);
    DecodeHint hint{request.hint_width, request.hint_height};
    hint.keep_alpha = (request.flags & decoders_internal::kKeepAlpha) != 0;
    image = decoders_internal::DecodeOpenPictureFile(fd, request.bytes, hint,
                                                     budget);
    WireMessage m;
    if (image.has_alpha) m.flags = decoders_internal::kHasAlpha;
    if (!PutPixels(memfd, image)) {
      if (errno != EFBIG) {
        return ErrorMessage(
            platform::kErrOutOfMemory, platform::ProgramName(),
            platform::StandardDescription(platform::kErrOutOfMemory));
      }
      m.flags |= decoders_internal::kPixelsFollow;
    }
    m.type = WireType::kImage;
    m.bytes = static_cast<int64_t>(image.bgrx.size());
    decoders_internal::CopyImageSizes(image, m);
    return m;
  } catch (const platform::Error& e) {
    return ErrorMessage(e.number(), e.source(), e.description());
  } catch (const std::bad_alloc&) {
    return ErrorMessage(
        platform::kErrOutOfMemory, platform::ProgramName(),
        platform::StandardDescription(platform::kErrOutOfMemory));
  } catch (const std::exception& e) {
    return ErrorMessage(platform::kErrInvalidPicture, platform::ProgramName(),
                        e.what());
  }
}

bool ParseNumber(const char* text, int64_t& value) {
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < 0) return false;
  value = n;
  return true;
}

}  // namespace

std::optional<DecoderServiceOptions> ParseDecoderArguments(int argc,
                                                           char** argv) {
  DecoderServiceOptions options;
  bool socket_given = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view name = argv[i];
    int64_t value = 0;
    if (!ParseNumber(argv[i + 1], value)) return std::nullopt;
    if (name == "--socket" && value < 1024) {
      options.socket_fd = static_cast<int>(value);
      socket_given = true;
    } else if (name == "--memory-limit") {
      options.memory_limit_bytes = value;
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || !socket_given) return std::nullopt;
  return options;
}

void ServeDecoder(const DecoderServiceOptions& options) {
  const int socket_fd = options.socket_fd;
  // Under a file size limit the memfd's writes fail (EFBIG) rather than
  // end the process; the pixels then take the socket.
  signal(SIGXFSZ, SIG_IGN);
  // A crash is the program's to name: the decoder dies of its signal, even
  // where a sanitizer's runtime would report it and exit.
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) signal(fault, SIG_DFL);
  const int memfd = memfd_create("vignettes-pixels", MFD_CLOEXEC);
  if (memfd < 0) _exit(2);
  (void)!ftruncate(memfd, decoders_internal::kStatusBytes);
  const WireStatus clear;
  (void)!pwrite(memfd, &clear, sizeof clear, 0);
  status_fd_for_new = memfd;
  std::set_new_handler(OnAllocationRefused);

  TuneAllocatorForBatches();
  LoadLazyParts();
  const int keep_below = std::max(socket_fd, memfd) + 1;
  const decoders_internal::Confinement confinement =
      decoders_internal::ConfineDecoderProcess(options.memory_limit_bytes,
                                               memfd, keep_below);
  WireMessage hello;
  hello.type = WireType::kHello;
  hello.flags = confinement.flags;
  hello.bytes = options.memory_limit_bytes;
  hello.number = confinement.landlock_abi;
  if (!decoders_internal::SendWire(socket_fd, hello, memfd)) _exit(2);

  // A decoder looping in a library never reads its socket again: this
  // thread ends the process when the program hangs up, however it ended.
  std::thread([socket_fd] {
    pollfd hang_up{socket_fd, 0, 0};
    while (poll(&hang_up, 1, -1) <= 0 || hang_up.revents == 0) {
    }
    _exit(0);
  }).detach();

  // Every lease of this process is the program's, taken over the socket.
  SocketBroker broker(socket_fd);
  decoders_internal::DecodeBudget budget(
      decoders_internal::kSharedDecodeBudgetBytes);
  budget.SetBroker(&broker);
  for (;;) {
    WireMessage request;
    int fd = -1;
    if (!decoders_internal::ReceiveWire(socket_fd, request, &fd)) _exit(0);
    if (request.type != WireType::kDecode || fd < 0 ||
        (request.flags & ~decoders_internal::kKeepAlpha) != 0) {
      if (fd >= 0) close(fd);
      _exit(2);
    }
    struct stat info {};
    if (fstat(memfd, &info) == 0 &&
        info.st_size > decoders_internal::kStatusBytes + kKeptPixelBytes) {
      (void)!ftruncate(memfd, decoders_internal::kStatusBytes);
    }
    (void)!pwrite(memfd, &clear, sizeof clear, 0);
    broker.SetCredit(request.credit);
    DecodedImage image;
    const WireMessage answer =
        Decode(request, fd, memfd, options, budget, image);
    close(fd);
    if (!decoders_internal::SendWire(socket_fd, answer)) _exit(0);
    if ((answer.flags & decoders_internal::kPixelsFollow) != 0 &&
        !SendPixels(socket_fd, image)) {
      _exit(0);
    }
  }
}

}  // namespace vg::decoders
