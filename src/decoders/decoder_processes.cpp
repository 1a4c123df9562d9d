#include "decoders/decoder_processes.h"

#include <fcntl.h>
#include <poll.h>
#include <seccomp.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "decoders/internal/decode_budget.h"
#include "decoders/internal/decoder_wire.h"
#include "decoders/internal/picture_file.h"
#include "platform/error.h"

extern char** environ;

namespace vg::decoders {

using decoders_internal::FileDescriptor;
using decoders_internal::WireMessage;
using decoders_internal::WireStatus;
using decoders_internal::WireType;

namespace {

using Clock = std::chrono::steady_clock;

// An image's area must lie within its pixels and leave less than one pixel
// of them out at each side (or be all of them): a reduced decode's partial
// edge, nothing more.
bool AreaIsSound(const decoders_internal::WireMessage& m) {
  const PixelArea& a = m.area;
  if (a.width == 0) return a.x == 0 && a.y == 0 && a.height == 0;
  const auto side = [](double start, double length, int32_t pixels) {
    return start >= 0 && length > pixels - 1 && start + length <= pixels &&
           start < 1;
  };
  return side(a.x, a.width, m.pixel_width) &&
         side(a.y, a.height, m.pixel_height);
}

// How long a new decoder process may take to greet.
constexpr auto kStartTimeLimit = std::chrono::seconds(30);

std::atomic<DecoderProcesses*> installed{nullptr};

[[noreturn]] void Raise(int32_t number, const std::string& description) {
  throw platform::Error(number, platform::ProgramName(), description);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

bool IsExecutable(const std::string& path) {
  return !path.empty() && access(path.c_str(), X_OK) == 0;
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Reads the pixels that follow the status page of `memfd` into `pixels`.
bool ReadPixels(int memfd, std::vector<uint8_t>& pixels) {
  size_t done = 0;
  while (done < pixels.size()) {
    const ssize_t n =
        pread(memfd, pixels.data() + done, pixels.size() - done,
              decoders_internal::kStatusBytes + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

struct DecoderProcesses::Process {
  pid_t pid = -1;
  FileDescriptor socket;
  FileDescriptor memfd;
  DecoderConfinement confinement;

  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (pid > 0) {
      socket.Reset();
      End(true);
    }
  }

  // Kills the process (when `kill_it`) and waits for its end; returns the
  // wait status.
  int End(bool kill_it) {
    if (pid <= 0) return 0;
    if (kill_it) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
    return status;
  }

  WireStatus ReadStatus() const {
    WireStatus status;
    if (pread(memfd.get(), &status, sizeof status, 0) !=
        static_cast<ssize_t>(sizeof status)) {
      status = WireStatus{};
    }
    return status;
  }
};

DecoderProcesses::DecoderProcesses(DecoderProcessOptions options)
    : options_(std::move(options)) {
  if (options_.executable.empty())
    options_.executable = FindDecoderExecutable();
}

DecoderProcesses::~DecoderProcesses() {
  std::lock_guard lock(mutex_);
  // A closed socket ends a decoder, at once even when it is busy (its
  // watchdog sees the hang-up).
  for (std::unique_ptr<Process>& process : idle_) {
    process->socket.Reset();
    process->End(false);
  }
}

std::unique_ptr<DecoderProcesses::Process> DecoderProcesses::Start() {
  if (!IsExecutable(options_.executable)) {
    Raise(platform::kErrInvalidPicture,
          "decoder could not be started: no decoder program (" +
              (options_.executable.empty() ? std::string("vignettes-decoder")
                                           : options_.executable) +
              ")");
  }
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
    Raise(platform::kErrInvalidPicture,
          std::string("decoder could not be started: ") + std::strerror(errno));
  }
  FileDescriptor ours(pair[0]);
  FileDescriptor theirs(pair[1]);

  // The decoder gets its socket as descriptor 3, nothing on 0, 1 and 2,
  // and no other descriptor; default signal handling and an empty mask,
  // whatever this thread has. The libraries' own warnings ("Corrupt JPEG
  // data: ...") would land between the program's lines: a failure is told
  // in the program's words. $VIGNETTES_DECODER_STDERR keeps them, for
  // debugging a decoder.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (const char* keep = std::getenv("VIGNETTES_DECODER_STDERR");
      keep == nullptr || *keep == '\0') {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), 3);
  posix_spawn_file_actions_addclosefrom_np(&actions, 4);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t every;
  sigemptyset(&none);
  sigfillset(&every);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &every);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const std::string limit = std::to_string(options_.memory_limit_bytes);
  const std::string& program = options_.executable;
  char* argv[] = {const_cast<char*>(program.c_str()),
                  const_cast<char*>("--socket"),
                  const_cast<char*>("3"),
                  const_cast<char*>("--memory-limit"),
                  const_cast<char*>(limit.c_str()),
                  nullptr};
  auto process = std::make_unique<Process>();
  const int spawned = posix_spawn(&process->pid, program.c_str(), &actions,
                                  &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  theirs.Reset();
  if (spawned != 0) {
    Raise(
        platform::kErrInvalidPicture,
        "decoder could not be started: " + std::string(std::strerror(spawned)));
  }
  process->socket = std::move(ours);

  WireMessage hello;
  int memfd = -1;
  pollfd ready{process->socket.get(), POLLIN, 0};
  const int waited = poll(
      &ready, 1,
      static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(kStartTimeLimit)
              .count()));
  if (waited <= 0 ||
      !decoders_internal::ReceiveWire(process->socket.get(), hello, &memfd) ||
      hello.type != WireType::kHello || memfd < 0) {
    if (memfd >= 0) close(memfd);
    process->End(true);
    Raise(platform::kErrInvalidPicture,
          "decoder could not be started: it did not answer");
  }
  process->memfd = FileDescriptor(memfd);
  DecoderConfinement& c = process->confinement;
  c.no_new_privileges = (hello.flags & decoders_internal::kNoNewPrivs) != 0;
  c.seccomp = (hello.flags & decoders_internal::kSeccomp) != 0;
  c.landlock_abi =
      (hello.flags & decoders_internal::kLandlock) != 0 ? hello.number : 0;
  c.memory_limit = (hello.flags & decoders_internal::kMemoryLimit) != 0;
  c.memory_limit_bytes = c.memory_limit ? hello.bytes : 0;
  c.no_core_files = (hello.flags & decoders_internal::kNoCoreFiles) != 0;
  c.few_files = (hello.flags & decoders_internal::kFewFiles) != 0;
  // Never weaker in silence: what this system lacks is said once.
  std::string missing;
  for (const auto& [has, name] :
       {std::pair{c.seccomp, "seccomp"},
        std::pair{c.no_new_privileges, "no-new-privileges"},
        std::pair{c.landlock_abi > 0, "Landlock"}}) {
    if (!has) missing += std::string(missing.empty() ? "" : ", ") + name;
  }
  if (!missing.empty()) {
    std::lock_guard lock(mutex_);
    if (!warned_) {
      warned_ = true;
      std::fprintf(stderr,
                   "%s: decoder processes run without %s on this system "
                   "(--version tells what they have)\n",
                   platform::ProgramName().c_str(), missing.c_str());
    }
  }
  return process;
}

std::unique_ptr<DecoderProcesses::Process> DecoderProcesses::Checkout() {
  {
    std::lock_guard lock(mutex_);
    while (!idle_.empty()) {
      std::unique_ptr<Process> process = std::move(idle_.back());
      idle_.pop_back();
      // An idle decoder says nothing: one that hung up or spoke was killed
      // or went wrong meanwhile, and is not given a picture.
      pollfd check{process->socket.get(), POLLIN, 0};
      if (poll(&check, 1, 0) != 0) {
        process->End(true);
        continue;
      }
      busy_.push_back(process->pid);
      return process;
    }
  }
  std::unique_ptr<Process> process = Start();
  std::lock_guard lock(mutex_);
  busy_.push_back(process->pid);
  return process;
}

void DecoderProcesses::Checkin(std::unique_ptr<Process> process) {
  std::lock_guard lock(mutex_);
  std::erase(busy_, process->pid);
  idle_.push_back(std::move(process));
}

DecodedImage DecoderProcesses::Decode(int fd, int64_t length,
                                      const DecodeHint& hint) {
  std::unique_ptr<Process> process = Checkout();
  // Ends the process and raises the reason it gives the picture.
  auto fail = [&](bool kill_it, std::string why) -> DecodedImage {
    const WireStatus status = process->ReadStatus();
    const pid_t pid = process->pid;
    const int wait_status = process->End(kill_it);
    {
      std::lock_guard lock(mutex_);
      std::erase(busy_, pid);
    }
    int32_t number = platform::kErrInvalidPicture;
    if (why.empty()) {
      if (WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGSYS) {
        char* name = seccomp_syscall_resolve_num_arch(SCMP_ARCH_NATIVE,
                                                      status.refused_call);
        why = "decoder made a forbidden call";
        if (name != nullptr) {
          why += std::string(" (") + name + ")";
          std::free(name);
        }
      } else if (status.allocation_refused != 0) {
        number = platform::kErrOutOfMemory;
        why = "decoder ran out of its " +
              std::to_string(options_.memory_limit_bytes >> 20) + " MB";
      } else if (WIFSIGNALED(wait_status)) {
        why = "decoder crashed (signal " +
              std::to_string(WTERMSIG(wait_status)) + ")";
      } else {
        why = "decoder ended (status " +
              std::to_string(WEXITSTATUS(wait_status)) + ")";
      }
    }
    Raise(number, why);
  };

  // Taken before the picture is sent, and held until it is back.
  decoders_internal::DecodeBudget::Lease credit =
      decoders_internal::SharedDecodeBudget().Take(
          decoders_internal::kDecodeCreditBytes);
  WireMessage request;
  request.type = WireType::kDecode;
  request.bytes = length;
  request.credit = credit.bytes();
  request.hint_width = hint.target_width_px;
  request.hint_height = hint.target_height_px;
  if (hint.keep_alpha) request.flags = decoders_internal::kKeepAlpha;
  if (!decoders_internal::SendWire(process->socket.get(), request, fd)) {
    // Gone between its check and this picture: the picture never reached
    // it, so another process is given it.
    const pid_t gone = process->pid;
    process.reset();
    {
      std::lock_guard lock(mutex_);
      std::erase(busy_, gone);
    }
    process = Checkout();
    if (!decoders_internal::SendWire(process->socket.get(), request, fd)) {
      return fail(false, {});
    }
  }
  const int socket = process->socket.get();

  std::vector<decoders_internal::DecodeBudget::Lease> leases;
  auto deadline = Clock::now() +
                  std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(options_.timeout_seconds));
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd ready{socket, POLLIN, 0};
    const int waited =
        left.count() <= 0
            ? 0
            : poll(&ready, 1,
                   static_cast<int>(std::min<int64_t>(left.count(), INT_MAX)));
    if (waited < 0 && errno == EINTR) continue;
    if (waited == 0) {
      return fail(true, "decoder took longer than " +
                            Seconds(options_.timeout_seconds) + " s");
    }
    WireMessage answer;
    if (waited < 0 || !decoders_internal::ReceiveWire(socket, answer)) {
      return fail(false, {});
    }
    switch (answer.type) {
      case WireType::kLease: {
        if (answer.credit != 0) {
          if (answer.credit != credit.bytes()) {
            return fail(true, "decoder sent a damaged reply");
          }
          credit.Release();
        }
        const auto asked = Clock::now();
        // Beside this picture's own credit and leases, it is alone.
        leases.push_back(decoders_internal::SharedDecodeBudget().Take(
            answer.bytes,
            static_cast<int>(leases.size()) + (credit.bytes() > 0 ? 1 : 0)));
        // Waiting for others' pictures is not this picture's time.
        deadline += Clock::now() - asked;
        WireMessage granted;
        granted.type = WireType::kGranted;
        if (!decoders_internal::SendWire(socket, granted)) {
          return fail(false, {});
        }
        break;
      }
      case WireType::kRelease: {
        auto held = std::find_if(leases.begin(), leases.end(), [&](auto& l) {
          return l.bytes() == std::max<int64_t>(answer.bytes, 0);
        });
        if (held == leases.end()) {
          return fail(true, "decoder sent a damaged reply");
        }
        leases.erase(held);
        break;
      }
      case WireType::kImage: {
        const int64_t w = answer.pixel_width;
        const int64_t h = answer.pixel_height;
        const bool sound =
            w > 0 && h > 0 && w <= kMaxPictureSidePx &&
            h <= kMaxPictureSidePx && w * h <= kMaxPicturePixels &&
            answer.stride_bytes == w * 4 && answer.bytes == w * h * 4 &&
            answer.width > 0 && answer.height > 0 &&
            answer.width <= kMaxPictureSidePx &&
            answer.height <= kMaxPictureSidePx && AreaIsSound(answer);
        const bool has_alpha =
            (answer.flags & decoders_internal::kHasAlpha) != 0;
        // Alpha comes back only when it was asked for.
        const bool flags_sound =
            (answer.flags & ~(decoders_internal::kPixelsFollow |
                              decoders_internal::kHasAlpha)) == 0 &&
            (!has_alpha || hint.keep_alpha);
        if (!sound || !flags_sound) {
          return fail(true, "decoder sent a damaged reply");
        }
        DecodedImage image;
        decoders_internal::CopyImageSizes(answer, image);
        image.has_alpha = has_alpha;
        try {
          image.bgrx.resize(static_cast<size_t>(answer.bytes));
        } catch (const std::bad_alloc&) {
          Checkin(std::move(process));
          Raise(platform::kErrOutOfMemory,
                platform::StandardDescription(platform::kErrOutOfMemory));
        }
        if ((answer.flags & decoders_internal::kPixelsFollow) != 0) {
          // Chunks of the pixels, within the same deadline.
          for (size_t at = 0; at < image.bgrx.size();) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - Clock::now());
            pollfd chunk{socket, POLLIN, 0};
            if (wait.count() <= 0 || poll(&chunk, 1,
                                          static_cast<int>(std::min<int64_t>(
                                              wait.count(), INT_MAX))) == 0) {
              return fail(true, "decoder took longer than " +
                                    Seconds(options_.timeout_seconds) + " s");
            }
            const size_t n = std::min(decoders_internal::kPixelChunkBytes,
                                      image.bgrx.size() - at);
            const ssize_t got = recv(socket, image.bgrx.data() + at, n, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got != static_cast<ssize_t>(n)) return fail(false, {});
            at += n;
          }
        } else if (!ReadPixels(process->memfd.get(), image.bgrx)) {
          return fail(true, "decoder sent a damaged reply");
        }
        Checkin(std::move(process));
        return image;
      }
      case WireType::kError: {
        const WireStatus status = process->ReadStatus();
        std::string source =
            decoders_internal::WireText(answer.source, sizeof answer.source);
        std::string description = decoders_internal::WireText(
            answer.description, sizeof answer.description);
        const int32_t number = answer.number;
        const int64_t limit_mb = options_.memory_limit_bytes >> 20;
        Checkin(std::move(process));
        if (number == platform::kErrOutOfMemory &&
            status.allocation_refused != 0) {
          Raise(number,
                "decoder ran out of its " + std::to_string(limit_mb) + " MB");
        }
        throw platform::Error(number, std::move(source),
                              std::move(description));
      }
      default:
        return fail(true, "decoder sent a damaged reply");
    }
  }
}

DecoderConfinement DecoderProcesses::Confinement() {
  std::unique_ptr<Process> process = Checkout();
  DecoderConfinement confinement = process->confinement;
  Checkin(std::move(process));
  return confinement;
}

std::vector<pid_t> DecoderProcesses::Pids() const {
  std::lock_guard lock(mutex_);
  std::vector<pid_t> pids = busy_;
  for (const std::unique_ptr<Process>& process : idle_) {
    pids.push_back(process->pid);
  }
  return pids;
}

std::vector<pid_t> DecoderProcesses::BusyPids() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

UseDecoderProcesses::UseDecoderProcesses(DecoderProcesses& processes)
    : previous_(installed.exchange(&processes)) {}

UseDecoderProcesses::~UseDecoderProcesses() { installed.store(previous_); }

DecoderProcesses* InstalledDecoderProcesses() { return installed.load(); }

std::string FindDecoderExecutable() {
  if (const char* given = std::getenv("VIGNETTES_DECODER");
      given != nullptr && *given != '\0') {
    return given;
  }
  std::vector<std::string> candidates;
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    const std::string folder =
        Folder(std::string(self, static_cast<size_t>(n)));
    candidates.push_back(folder + "/vignettes-decoder");
    candidates.push_back(Folder(folder) + "/" VG_DECODER_LIBEXEC_RELATIVE
                                          "/vignettes-decoder");
    // The build tree: src/gui/ or src/cli/ beside src/decoders/.
    candidates.push_back(Folder(folder) + "/decoders/vignettes-decoder");
  }
  for (const std::string& candidate : candidates) {
    if (IsExecutable(candidate)) return candidate;
  }
  return {};
}

std::string DescribeConfinement(const DecoderConfinement& c) {
  std::string text;
  text += "decoders: separate processes, one picture's descriptor at a time\n";
  text += std::string("  no new privileges: ") +
          (c.no_new_privileges ? "yes" : "NO") + "\n";
  text += std::string("  seccomp allow-list: ") +
          (c.seccomp ? "yes (no writing opens, sockets, programs, tracing, "
                       "signals to others)"
                     : "NO") +
          "\n";
  text += "  Landlock: " +
          (c.landlock_abi > 0
               ? "ABI " + std::to_string(c.landlock_abi) +
                     " (no file system access but reading fonts)"
               : std::string("not in this kernel (the decoders may read "
                             "any file you may)")) +
          "\n";
  text += "  memory limit: " +
          (c.memory_limit ? std::to_string(c.memory_limit_bytes >> 20) + " MB"
                          : std::string("none (sanitizer build)")) +
          "\n";
  text += std::string("  core files: ") + (c.no_core_files ? "none" : "YES") +
          ", descriptors: " + (c.few_files ? "its own only" : "NOT LIMITED") +
          "\n";
  return text;
}

}  // namespace vg::decoders
