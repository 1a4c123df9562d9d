#include "decoders/internal/confinement.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <initializer_list>

#include "decoders/internal/decoder_wire.h"

namespace vg::decoders::decoders_internal {
namespace {

int status_fd_for_signal = -1;

// Descriptors it may open beyond those it keeps: the picture being read,
// and what a library may make for a while.
constexpr int kSpareFds = 16;

// Notes the refused call in the status page, then dies of the signal.
void OnRefusedCall(int signal, siginfo_t* info, void* /*context*/) {
  if (status_fd_for_signal >= 0) {
    const int32_t call = info->si_syscall;
    (void)!pwrite(status_fd_for_signal, &call, sizeof call,
                  offsetof(WireStatus, refused_call));
  }
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

void SetLimit(int resource, rlim_t value) {
  rlimit limit{value, value};
  setrlimit(resource, &limit);
}

// Landlock's file system rights known to each ABI (1: 13 rights, 2: +REFER,
// 3: +TRUNCATE, 5: +IOCTL_DEV).
uint64_t LandlockRights(int abi) {
  if (abi >= 5) return (uint64_t{1} << 16) - 1;
  if (abi >= 3) return (uint64_t{1} << 15) - 1;
  if (abi >= 2) return (uint64_t{1} << 14) - 1;
  return (uint64_t{1} << 13) - 1;
}

// The one place files may still be read from: the fonts the metafile
// player draws text with (its Liberation fonts, opened by path).
constexpr const char* kFontFolder = "/usr/share/fonts";

// Returns the ABI applied, 0 when the kernel has no Landlock.
int ForbidFileSystem() {
  const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0,
                           LANDLOCK_CREATE_RULESET_VERSION);
  if (abi <= 0) return 0;
  // Only the field every ABI knows: newer fields stay unhandled.
  struct {
    uint64_t handled_access_fs;
  } attributes{LandlockRights(static_cast<int>(abi))};
  const long ruleset =
      syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0);
  if (ruleset < 0) return 0;
  // One rule: files below the font folder may be read. Every other right
  // handled is refused everywhere.
  const int fonts = open(kFontFolder, O_PATH | O_CLOEXEC | O_DIRECTORY);
  if (fonts >= 0) {
    landlock_path_beneath_attr beneath{};
    beneath.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE;
    beneath.parent_fd = fonts;
    syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH,
            &beneath, 0);
    close(fonts);
  }
  const long done = syscall(SYS_landlock_restrict_self, ruleset, 0);
  close(static_cast<int>(ruleset));
  return done == 0 ? static_cast<int>(abi) : 0;
}

bool Allow(scmp_filter_ctx filter, std::initializer_list<int> calls) {
  for (int call : calls) {
    if (call < 0) continue;  // not on this architecture
    if (seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) != 0) return false;
  }
  return true;
}

bool LoadFilter() {
  scmp_filter_ctx filter = seccomp_init(SCMP_ACT_TRAP);
  if (filter == nullptr) return false;
  const auto self = static_cast<scmp_datum_t>(getpid());
  bool ok = Allow(
      filter,
      {
          // Memory.
          SCMP_SYS(brk),
          SCMP_SYS(mmap),
          SCMP_SYS(munmap),
          SCMP_SYS(mremap),
          SCMP_SYS(mprotect),
          SCMP_SYS(madvise),
          // The descriptors it holds: its socket, the pixel memfd, the picture.
          SCMP_SYS(read),
          SCMP_SYS(write),
          SCMP_SYS(pread64),
          SCMP_SYS(pwrite64),
          SCMP_SYS(readv),
          SCMP_SYS(writev),
          SCMP_SYS(lseek),
          SCMP_SYS(close),
          SCMP_SYS(fstat),
          SCMP_SYS(newfstatat),
          SCMP_SYS(statx),
          SCMP_SYS(ftruncate),
          SCMP_SYS(fcntl),
          SCMP_SYS(recvmsg),
          SCMP_SYS(sendmsg),
          SCMP_SYS(recvfrom),
          SCMP_SYS(sendto),
          SCMP_SYS(poll),
          SCMP_SYS(ppoll),
          // Wake-ups between its own threads (QtGui's drawing makes some).
          SCMP_SYS(eventfd2),
          SCMP_SYS(pipe2),
          // Threads (the HEVC and AV1 decoders run their own) and their locks.
          SCMP_SYS(futex),
          SCMP_SYS(set_robust_list),
          SCMP_SYS(get_robust_list),
          SCMP_SYS(rseq),
          SCMP_SYS(set_tid_address),
          SCMP_SYS(sched_yield),
          SCMP_SYS(sched_getaffinity),
          SCMP_SYS(sched_getparam),
          SCMP_SYS(sched_getscheduler),
          SCMP_SYS(exit),
          SCMP_SYS(exit_group),
          // Signals, time, identity: nothing outside the process.
          SCMP_SYS(rt_sigaction),
          SCMP_SYS(rt_sigprocmask),
          SCMP_SYS(rt_sigreturn),
          SCMP_SYS(sigaltstack),
          SCMP_SYS(restart_syscall),
          SCMP_SYS(getpid),
          SCMP_SYS(gettid),
          SCMP_SYS(getppid),
          SCMP_SYS(getuid),
          SCMP_SYS(geteuid),
          SCMP_SYS(getgid),
          SCMP_SYS(getegid),
          SCMP_SYS(clock_gettime),
          SCMP_SYS(clock_getres),
          SCMP_SYS(clock_nanosleep),
          SCMP_SYS(nanosleep),
          SCMP_SYS(gettimeofday),
          SCMP_SYS(getrandom),
          SCMP_SYS(sysinfo),
          SCMP_SYS(uname),
          SCMP_SYS(getrusage),
          SCMP_SYS(times),
          SCMP_SYS(membarrier),
      });
  // A new thread, never a new process.
  ok = ok && seccomp_rule_add(
                 filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                 SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) == 0;
  // clone3's flags cannot be seen by the filter: the C library falls back
  // to clone when it is missing.
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3),
                              0) == 0;
  // Signals to itself only (abort() raises SIGABRT so).
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1,
                              SCMP_A0(SCMP_CMP_EQ, self)) == 0;
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(kill), 1,
                              SCMP_A0(SCMP_CMP_EQ, self)) == 0;
  // Its limits may be read, never raised.
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 1,
                              SCMP_A2(SCMP_CMP_EQ, 0)) == 0;
  ok = ok &&
       seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(getrlimit), 0) == 0;
  // Threads name themselves.
  for (scmp_datum_t option :
       {scmp_datum_t{PR_SET_NAME}, scmp_datum_t{PR_GET_NAME}}) {
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1,
                                SCMP_A0(SCMP_CMP_EQ, option)) == 0;
  }
  // Opening to read goes as far as Landlock lets it: the fonts only. (A
  // kernel without Landlock lets the decoder read what the user may read,
  // and --version says so: metafile text cannot be drawn without its
  // fonts.)
  // Opening to write, create or truncate ends the process.
  constexpr auto kWriting = static_cast<scmp_datum_t>(
      O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | (O_TMPFILE & ~O_DIRECTORY));
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(openat), 1,
                              SCMP_A2(SCMP_CMP_MASKED_EQ, kWriting, 0)) == 0;
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(open), 1,
                              SCMP_A1(SCMP_CMP_MASKED_EQ, kWriting, 0)) == 0;
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat2),
                              0) == 0;
  // A path's metadata, a link's target: they read no file.
  ok = ok && Allow(filter, {SCMP_SYS(stat), SCMP_SYS(lstat), SCMP_SYS(readlink),
                            SCMP_SYS(readlinkat)});
  for (int call : {SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2),
                   SCMP_SYS(getcwd), SCMP_SYS(statfs), SCMP_SYS(getdents64)}) {
    ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), call, 0) == 0;
  }
  // A terminal's questions (isatty) get "not a terminal".
  ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl),
                              0) == 0;
  ok = ok && seccomp_load(filter) == 0;
  seccomp_release(filter);
  return ok;
}

}  // namespace

bool SanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

Confinement ConfineDecoderProcess(int64_t memory_limit_bytes, int status_fd,
                                  int keep_below) {
  Confinement done;
  SetLimit(RLIMIT_CORE, 0);
  done.flags |= kNoCoreFiles;
  // Under AddressSanitizer the shadow memory alone is terabytes of
  // reserved address space: no data limit there.
  if (memory_limit_bytes > 0 && !SanitizedBuild()) {
    SetLimit(RLIMIT_DATA, static_cast<rlim_t>(memory_limit_bytes));
    done.flags |= kMemoryLimit;
  }
  // Every descriptor above those it holds is closed; none can be made
  // past the limit.
  close_range(static_cast<unsigned>(keep_below), ~0U, 0);
  SetLimit(RLIMIT_NOFILE,
           static_cast<rlim_t>(keep_below) + static_cast<rlim_t>(kSpareFds));
  done.flags |= kFewFiles;
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0) done.flags |= kNoNewPrivs;
  done.landlock_abi = ForbidFileSystem();
  if (done.landlock_abi > 0) done.flags |= kLandlock;
  status_fd_for_signal = status_fd;
  struct sigaction on_refused {};
  on_refused.sa_sigaction = OnRefusedCall;
  on_refused.sa_flags = SA_SIGINFO;
  sigaction(SIGSYS, &on_refused, nullptr);
  if (LoadFilter()) done.flags |= kSeccomp;
  return done;
}

}  // namespace vg::decoders::decoders_internal
