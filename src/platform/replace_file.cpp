#include "platform/replace_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace vg::platform {
namespace {

// "." + name + "." + pid + "." + 16 hex digits + ".tmp" must fit NAME_MAX.
constexpr size_t kMaxNameInTemporary = 200;
// A fresh random name that already exists means someone else is racing us;
// give up after a few.
constexpr int kCreateAttempts = 8;

uint64_t RandomBits() {
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == sizeof bits) {
    return bits;
  }
  // No entropy yet (early boot): the clock and the thread's stack address
  // still differ between concurrent callers, and O_EXCL catches the rest.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
         static_cast<uint64_t>(now.tv_sec) ^ reinterpret_cast<uintptr_t>(&now);
}

std::atomic<TemporaryNameBits> name_bits_for_testing{nullptr};

std::string TemporaryNameFor(const std::string& folder, const std::string& name,
                             uint64_t random) {
  char tail[64];
  std::snprintf(tail, sizeof tail, ".%ld.%016llx.tmp",
                static_cast<long>(getpid()),
                static_cast<unsigned long long>(random));
  return folder + "/." + name.substr(0, kMaxNameInTemporary) + tail;
}

// The file the bytes must end up in: a symbolic link is followed so that the
// link survives and the file it points to is the one replaced.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::unique_ptr<char, decltype(&std::free)> real(
      realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

// Folders this process has already swept. Bounded: past the cap it starts
// again, which only costs one more listing per folder. A forked child is a
// new process and sweeps again.
constexpr size_t kMaxSweptFolders = 4096;

void SweepOnce(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  static pid_t swept_by = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (swept_by != getpid() || swept.size() >= kMaxSweptFolders) {
      swept.clear();
      swept_by = getpid();
    }
    if (!swept.insert(folder).second) return;
  }
  RemoveStaleTemporaries(folder);
}

bool ProcessIsGone(long pid) {
  if (pid <= 0 || pid > INT_MAX) return false;
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;  // nothing taken and no error: give up
    bytes = bytes.subspan(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

TemporaryNameBits SetTemporaryNameBitsForTesting(TemporaryNameBits bits) {
  return name_bits_for_testing.exchange(bits);
}

bool IsTemporaryName(const std::string& name, long* pid) {
  constexpr std::string_view kSuffix = ".tmp";
  constexpr size_t kHexDigits = 16;
  if (name.size() < 1 + 1 + 1 + 1 + 1 + kHexDigits + kSuffix.size() ||
      name.front() != '.' ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) !=
          0) {
    return false;
  }
  size_t end = name.size() - kSuffix.size();  // one past the hex digits
  size_t hex = end - kHexDigits;
  for (size_t i = hex; i < end; ++i) {
    char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  if (name[hex - 1] != '.') return false;
  size_t digits_end = hex - 1;
  size_t digits = digits_end;
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') {
    --digits;
  }
  size_t count = digits_end - digits;
  // At most 10 digits (pid_t is 32 bits); no leading zero; a "." before
  // them; and at least one byte of name between the leading "." and it.
  if (count == 0 || count > 10 || name[digits] == '0' || digits < 3 ||
      name[digits - 1] != '.') {
    return false;
  }
  long value = 0;
  for (size_t i = digits; i < digits_end; ++i)
    value = value * 10 + (name[i] - '0');
  if (pid != nullptr) *pid = value;
  return true;
}

int RemoveStaleTemporaries(const std::string& folder) {
  const std::string base = folder.empty() ? "/" : folder;
  struct CloseDir {
    void operator()(DIR* d) const { closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> dir(opendir(base.c_str()));
  if (!dir) return 0;
  const uid_t me = geteuid();
  int removed = 0;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    long pid = 0;
    if (!IsTemporaryName(name, &pid) || pid == static_cast<long>(getpid())) {
      continue;
    }
    // Checked with the descriptor of the folder, so a folder renamed while
    // being swept cannot send the removal elsewhere.
    struct stat st {};
    if (fstatat(dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) !=
            0 ||
        !S_ISREG(st.st_mode) || st.st_uid != me || !ProcessIsGone(pid)) {
      continue;
    }
    if (unlinkat(dirfd(dir.get()), name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

std::vector<std::string> ListTemporaries(const std::string& folder) {
  std::vector<std::string> names;
  struct CloseDir {
    void operator()(DIR* d) const { closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> dir(
      opendir(folder.empty() ? "/" : folder.c_str()));
  if (!dir) return names;
  while (const dirent* entry = readdir(dir.get())) {
    long pid = 0;
    if (IsTemporaryName(entry->d_name, &pid) &&
        pid != static_cast<long>(getpid())) {
      names.emplace_back(entry->d_name);
    }
  }
  return names;
}

bool IsTemporaryOf(const std::string& temporary, const std::string& name) {
  // "." + the name + "." + a tail that holds no other ".": "<pid>.<hex>.tmp".
  // A name cut short in its temporary file's name is not told apart from
  // another with the same beginning: never said to be its.
  if (name.size() > kMaxNameInTemporary) return false;
  const std::string head = "." + name + ".";
  constexpr size_t kTailDots = 2;
  return temporary.size() > head.size() &&
         temporary.compare(0, head.size(), head) == 0 &&
         std::count(temporary.begin() + static_cast<ptrdiff_t>(head.size()),
                    temporary.end(), '.') == kTailDots &&
         IsTemporaryName(temporary, nullptr);
}

ReplaceResult ReplaceFile(const std::string& path,
                          std::span<const uint8_t> bytes,
                          BeforeReplaceStep before_replace, void* context,
                          bool sync) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    return ReplaceResult::kCannotCreate;
  }
  const std::string target = ResolveTarget(path);
  const size_t slash = target.find_last_of('/');
  const std::string folder = slash == std::string::npos
                                 ? "."
                                 : (slash == 0 ? "" : target.substr(0, slash));
  const std::string name =
      slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    return ReplaceResult::kCannotCreate;
  }
  // Only a regular file is ever replaced: a rename over a folder fails
  // anyway, and one over a device or a pipe would destroy it.
  struct stat existing {};
  if (stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    return ReplaceResult::kCannotReplace;
  }

  SweepOnce(folder);

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < kCreateAttempts && fd < 0; ++attempt) {
    const TemporaryNameBits bits = name_bits_for_testing.load();
    temporary =
        TemporaryNameFor(folder, name, bits != nullptr ? bits() : RandomBits());
    // 0666 lets the kernel apply the umask (or the folder's default ACL):
    // that is the mode a new file must end up with.
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return ReplaceResult::kCannotCreate;

  ReplaceResult result = ReplaceResult::kCannotWrite;
  struct stat created {};
  // Owner-only while the bytes go in: the old file may have been private.
  bool ok = fstat(fd, &created) == 0 && fchmod(fd, S_IRUSR | S_IWUSR) == 0 &&
            WriteAll(fd, bytes) && fchmod(fd, created.st_mode & 07777) == 0;
  if (ok && before_replace != nullptr) before_replace(fd, context);
  // A full disk may only show at fsync or close (delayed allocation, NFS).
  ok = ok && (!sync || fsync(fd) == 0);
  // close() is not retried on EINTR: on Linux the descriptor is gone anyway.
  if (close(fd) != 0) ok = false;
  if (ok) {
    if (rename(temporary.c_str(), target.c_str()) == 0) {
      return ReplaceResult::kDone;
    }
    result = ReplaceResult::kCannotReplace;
  }
  unlink(temporary.c_str());
  return result;
}

}  // namespace vg::platform
