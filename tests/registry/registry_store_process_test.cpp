// Several processes on one hive, and processes killed while they write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "registry/registry_store.h"
#include "registry/registry_testutil.h"

namespace vg::platform {
namespace {

namespace fs = std::filesystem;

// SQLite waits for another connection's lock by sleeping through its VFS:
// every connection of this program opens through one that counts those
// sleeps, so that a test sees a call waiting.
std::atomic<int> lock_waits{0};
sqlite3_vfs counting_vfs;
int (*system_sleep)(sqlite3_vfs*, int) = nullptr;

int CountingSleep(sqlite3_vfs* vfs, int microseconds) {
  ++lock_waits;
  return system_sleep(vfs, microseconds);
}

const bool kCountingVfs = [] {
  sqlite3_vfs* system = sqlite3_vfs_find(nullptr);
  counting_vfs = *system;
  counting_vfs.zName = "vg-counting";
  system_sleep = system->xSleep;
  counting_vfs.xSleep = CountingSleep;
  return sqlite3_vfs_register(&counting_vfs, 1) == SQLITE_OK;
}();

class RegistryStoreProcessTest : public ::testing::Test {
 protected:
  static std::string ValueName(int writer, int i) {
    return "w" + std::to_string(writer) + "_" + std::to_string(i);
  }
  // The data stored for value i: long enough to span pages now and then.
  static std::string ValueData(int i) {
    return std::string(static_cast<size_t>(i % 97) * 13 + 1, 'a' + i % 26);
  }
  static int32_t Put(HKEY key, const std::string& name,
                     const std::string& data) {
    return RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                          reinterpret_cast<const uint8_t*>(data.data()),
                          static_cast<uint32_t>(data.size()));
  }
  static std::set<std::string> Names(HKEY key, int32_t* failure) {
    std::set<std::string> names;
    char name[256];
    for (uint32_t i = 0; i < 100000; ++i) {
      uint32_t chars = sizeof name;
      int32_t r = RegEnumValueA(key, i, name, &chars, nullptr, nullptr, nullptr,
                                nullptr);
      if (r == kRegNoMoreItems) break;
      if (r != kRegSuccess) {
        *failure = r;
        break;
      }
      names.emplace(name, chars);
    }
    return names;
  }
  std::string IntegrityCheck() {
    sqlite3* db = nullptr;
    std::string verdict = "cannot open";
    if (sqlite3_open_v2(hive_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
      sqlite3_stmt* q = nullptr;
      if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &q, nullptr) ==
              SQLITE_OK &&
          sqlite3_step(q) == SQLITE_ROW) {
        verdict = reinterpret_cast<const char*>(sqlite3_column_text(q, 0));
      }
      sqlite3_finalize(q);
    }
    sqlite3_close(db);
    return verdict;
  }

  registry::testing::TempHive temp_;
  const std::string& dir_ = temp_.dir();
  const std::string& hive_ = temp_.path();
};

// Each child writes its own values into one shared key and lists the key
// after every write; its exit status says what went wrong, if anything.
enum ChildStatus {
  kChildOk = 0,
  kChildOpen,
  kChildWrite,
  kChildList,
  kChildLost
};

int WriterChild(int writer, int count) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_ALL_ACCESS, &key) !=
      kRegSuccess) {
    return kChildOpen;
  }
  for (int i = 0; i < count; ++i) {
    std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
    std::string data(static_cast<size_t>(i % 97) * 13 + 1, 'a' + i % 26);
    if (RegSetValueExA(key, name.c_str(), 0, REG_BINARY,
                       reinterpret_cast<const uint8_t*>(data.data()),
                       static_cast<uint32_t>(data.size())) != kRegSuccess) {
      return kChildWrite;
    }
    // Every value this child wrote so far must be listed.
    std::set<std::string> seen;
    char buffer[256];
    for (uint32_t index = 0; index < 100000; ++index) {
      uint32_t chars = sizeof buffer;
      int32_t r = RegEnumValueA(key, index, buffer, &chars, nullptr, nullptr,
                                nullptr, nullptr);
      if (r == kRegNoMoreItems) break;
      if (r != kRegSuccess) return kChildList;
      seen.emplace(buffer, chars);
    }
    for (int j = 0; j <= i; ++j) {
      if (seen.count("w" + std::to_string(writer) + "_" + std::to_string(j)) ==
          0) {
        return kChildLost;
      }
    }
  }
  return RegCloseKey(key) == kRegSuccess ? kChildOk : kChildOpen;
}

TEST_F(RegistryStoreProcessTest, TwoProcessesWriteAndListOneKeyAtOnce) {
  // The parent holds the hive and a handle open across the forks.
  HKEY key = registry::testing::CreateKey(HKEY_CURRENT_USER, "Shared");
  ASSERT_NE(key, 0);
  constexpr int kWrites = 150;
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) _exit(WriterChild(w, kWrites));
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kChildOk);
  }
  int32_t failure = kRegSuccess;
  std::set<std::string> names = Names(key, &failure);
  EXPECT_EQ(failure, kRegSuccess);
  EXPECT_EQ(names.size(), 2u * kWrites);
  for (int w = 0; w < 2; ++w) {
    for (int i = 0; i < kWrites; i += 37) {
      std::string data(2000, '\0');
      uint32_t size = static_cast<uint32_t>(data.size());
      ASSERT_EQ(
          RegQueryValueExA(key, ValueName(w, i).c_str(), nullptr, nullptr,
                           reinterpret_cast<uint8_t*>(data.data()), &size),
          kRegSuccess);
      data.resize(size);
      EXPECT_EQ(data, ValueData(i));
    }
  }
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
  EXPECT_EQ(IntegrityCheck(), "ok");
}

TEST_F(RegistryStoreProcessTest, AKilledWriterLosesNoAcknowledgedWrite) {
  HKEY key = registry::testing::CreateKey(HKEY_CURRENT_USER, "Shared");
  ASSERT_NE(key, 0);
  ASSERT_EQ(RegCloseKey(key), kRegSuccess);

  std::vector<int> acknowledged;  // over every round
  // Kill points (in acknowledged writes) chosen to fall at different places
  // of the WAL's life: early, around an automatic checkpoint, later.
  const int kill_after[] = {37, 450, 1100};
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(pipe_fds[0]);
      HKEY k = 0;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_ALL_ACCESS, &k) !=
          kRegSuccess) {
        _exit(kChildOpen);
      }
      for (int i = round * 100000; i < round * 100000 + 5000; ++i) {
        std::string name =
            "w" + std::to_string(round) + "_" + std::to_string(i);
        std::string data(static_cast<size_t>(i % 97) * 13 + 1, 'a' + i % 26);
        if (RegSetValueExA(k, name.c_str(), 0, REG_BINARY,
                           reinterpret_cast<const uint8_t*>(data.data()),
                           static_cast<uint32_t>(data.size())) != kRegSuccess) {
          _exit(kChildWrite);
        }
        // Acknowledged: tell the parent.
        if (write(pipe_fds[1], &i, sizeof i) != sizeof i) _exit(kChildLost);
      }
      _exit(kChildOk);
    }
    close(pipe_fds[1]);
    int received = 0;
    bool killed = false;
    int value = 0;
    while (true) {
      ssize_t n = read(pipe_fds[0], &value, sizeof value);
      if (n == 0) break;  // the child is gone and the pipe drained
      if (n < 0 && errno == EINTR) continue;
      ASSERT_EQ(n, static_cast<ssize_t>(sizeof value));
      acknowledged.push_back(value);
      if (++received == kill_after[round] && !killed) {
        kill(child, SIGKILL);
        killed = true;
      }
    }
    close(pipe_fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_GE(received, kill_after[round]);

    ASSERT_EQ(IntegrityCheck(), "ok");
  }

  // Every acknowledged write is there with its data, through the store.
  SetRegistryStorePath(hive_);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_READ, &key),
            kRegSuccess);
  std::string data(2000, '\0');
  int missing = 0;
  for (int i : acknowledged) {
    uint32_t size = static_cast<uint32_t>(data.size());
    int round = i / 100000;
    std::string name = ValueName(round, i);
    if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                         reinterpret_cast<uint8_t*>(data.data()),
                         &size) != kRegSuccess ||
        std::string(data.data(), size) != ValueData(i)) {
      ++missing;
    }
  }
  EXPECT_EQ(missing, 0) << "of " << acknowledged.size();
  // And the hive still takes writes.
  HKEY writer = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_WRITE, &writer),
            kRegSuccess);
  EXPECT_EQ(Put(writer, "after", "x"), kRegSuccess);
  EXPECT_EQ(RegCloseKey(writer), kRegSuccess);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreProcessTest,
       AWriterThatExitsLeavesEveryWriteInTheStoreFile) {
  HKEY key = registry::testing::CreateKey(HKEY_CURRENT_USER, "Exit");
  ASSERT_NE(key, 0);
  ASSERT_EQ(RegCloseKey(key), kRegSuccess);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Writes through a root, which is never closed, and through a handle
    // left open, then ends the usual way.
    HKEY open = 0;
    bool ok = RegOpenKeyExA(HKEY_CURRENT_USER, "Exit", 0, KEY_ALL_ACCESS,
                            &open) == kRegSuccess;
    for (int i = 0; ok && i < 60; ++i) {
      ok = Put(HKEY_CURRENT_USER, ValueName(0, i), ValueData(i)) ==
               kRegSuccess &&
           Put(open, ValueName(1, i), ValueData(i)) == kRegSuccess;
    }
    std::exit(ok ? 0 : 1);
  }
  // This process keeps the hive open meanwhile, as another program would.
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "none", nullptr, nullptr,
                             nullptr, &size),
            kRegFileNotFound);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  // The store file alone, copied without its -wal.
  const std::string copy = dir_ + "/copy.sqlite3";
  fs::copy_file(hive_, copy);
  SetRegistryStorePath(copy);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Exit", 0, KEY_READ, &key),
            kRegSuccess);
  int missing = 0;
  std::string data(2000, '\0');
  for (int i = 0; i < 60; ++i) {
    for (HKEY from : {HKEY_CURRENT_USER, key}) {
      size = static_cast<uint32_t>(data.size());
      std::string name = ValueName(from == key ? 1 : 0, i);
      if (RegQueryValueExA(from, name.c_str(), nullptr, nullptr,
                           reinterpret_cast<uint8_t*>(data.data()),
                           &size) != kRegSuccess ||
          std::string(data.data(), size) != ValueData(i)) {
        ++missing;
      }
    }
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreProcessTest,
       CallsWaitForAnotherWritersLockInsteadOfFailing) {
  HKEY key = registry::testing::CreateKey(HKEY_CURRENT_USER, "Locked");
  ASSERT_NE(key, 0);
  // Another connection takes the write lock and keeps it for a while.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(hive_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::atomic<int32_t> write_result{-1};
  std::atomic<int32_t> delete_result{-1};
  const int waits_before = lock_waits.load();
  std::thread writer([&] {
    write_result = Put(key, "v", "waited");
    delete_result = RegDeleteValueA(key, "v");
  });
  // The writer waits: SQLite sleeps between its tries, and the call has
  // neither failed nor written.
  ASSERT_TRUE(kCountingVfs);
  while (lock_waits.load() == waits_before && write_result.load() == -1) {
    std::this_thread::yield();
  }
  EXPECT_EQ(write_result.load(), -1) << "did not wait for the lock";
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr),
            SQLITE_OK);
  writer.join();
  EXPECT_EQ(write_result.load(), kRegSuccess);
  EXPECT_EQ(delete_result.load(), kRegSuccess);
  sqlite3_close(other);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreProcessTest, AChildKeepsCopiesOfTheParentsHandles) {
  HKEY key = registry::testing::CreateKey(HKEY_CURRENT_USER, "Inherited");
  ASSERT_NE(key, 0);
  ASSERT_EQ(Put(key, "before", "1"), kRegSuccess);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    uint32_t size = 0;
    bool ok = RegQueryValueExA(key, "before", nullptr, nullptr, nullptr,
                               &size) == kRegSuccess &&
              size == 1 && Put(key, "child", "2") == kRegSuccess &&
              RegCloseKey(key) == kRegSuccess;
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The child's close did not close the parent's handle.
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "child", nullptr, nullptr, nullptr, &size),
            kRegSuccess);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

}  // namespace
}  // namespace vg::platform
