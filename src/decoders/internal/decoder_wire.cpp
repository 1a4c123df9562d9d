#include "decoders/internal/decoder_wire.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vg::decoders::decoders_internal {

bool SendWire(int socket_fd, const WireMessage& message, int fd) {
  iovec data{const_cast<WireMessage*>(&message), sizeof message};
  msghdr header{};
  header.msg_iov = &data;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (fd >= 0) {
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&header);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
  }
  ssize_t n = 0;
  do {
    n = sendmsg(socket_fd, &header, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof message);
}

bool ReceiveWire(int socket_fd, WireMessage& message, int* fd) {
  if (fd != nullptr) *fd = -1;
  iovec data{&message, sizeof message};
  msghdr header{};
  header.msg_iov = &data;
  header.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  ssize_t n = 0;
  do {
    n = recvmsg(socket_fd, &header, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  // Every descriptor that came is kept or closed, whatever the message.
  int kept = -1;
  for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr;
       c = CMSG_NXTHDR(&header, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int received = -1;
      std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof received);
      if (kept < 0 && fd != nullptr) {
        kept = received;
      } else {
        close(received);
      }
    }
  }
  const bool whole = n == static_cast<ssize_t>(sizeof message) &&
                     (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
  if (!whole) {
    if (kept >= 0) close(kept);
    return false;
  }
  if (fd != nullptr) *fd = kept;
  return true;
}

void CopyWireText(const std::string& text, char* out, size_t n) {
  const size_t length = std::min(text.size(), n - 1);
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
}

std::string WireText(const char* field, size_t n) {
  return {field, strnlen(field, n)};
}

}  // namespace vg::decoders::decoders_internal
