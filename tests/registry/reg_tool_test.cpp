// vignettes-reg end to end: the built program, run on a hive of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "registry/registry_store.h"
#include "registry/registry_testutil.h"

namespace vg::registry {
namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RegToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef VG_REG_TOOL
    GTEST_SKIP() << "vignettes-reg is not built";
#endif
  }

  // Runs the tool with `args`; the hive comes from VIGNETTES_REGISTRY unless
  // `env_hive` is empty.
  ToolRun Reg(std::vector<std::string> args, const std::string& env_hive) {
    ToolRun run;
#ifdef VG_REG_TOOL
    std::string out_path = hive_.dir() + "/out.txt";
    std::string err_path = hive_.dir() + "/err.txt";
    pid_t child = fork();
    if (child == 0) {
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, 1);
      dup2(err, 2);
      if (env_hive.empty()) {
        unsetenv("VIGNETTES_REGISTRY");
      } else {
        setenv("VIGNETTES_REGISTRY", env_hive.c_str(), 1);
      }
      std::vector<char*> argv;
      std::string program = VG_REG_TOOL;
      argv.push_back(program.data());
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(out_path);
    run.err = ReadFile(err_path);
#else
    (void)args;
    (void)env_hive;
#endif
    return run;
  }
  ToolRun Reg(std::vector<std::string> args) {
    return Reg(std::move(args), hive_.path());
  }

  // The stored type and bytes of a value, read through the store itself.
  std::string Stored(const char* key_path, const char* name, uint32_t* type) {
    platform::HKEY key = 0;
    if (platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, key_path, 0,
                                platform::KEY_READ, &key) != 0) {
      return "<no key>";
    }
    uint32_t size = 0;
    std::string data;
    if (platform::RegQueryValueExA(key, name, nullptr, type, nullptr, &size) ==
        0) {
      data.resize(size);
      EXPECT_EQ(platform::RegQueryValueExA(
                    key, name, nullptr, type,
                    reinterpret_cast<uint8_t*>(data.data()), &size),
                0);
    } else {
      data = "<no value>";
    }
    EXPECT_EQ(platform::RegCloseKey(key), 0);
    return data;
  }

  testing::TempHive hive_;
};

TEST_F(RegToolTest, AddStoresEachTypeAsTheRegistryKeepsIt) {
  ASSERT_EQ(Reg({"add", "HKCU\\Software\\Tool", "/v", "s", "/d", "abc"}).status,
            0);
  ASSERT_EQ(Reg({"add", "hkcu\\software\\tool", "-VE", "/d", "déf"}).status, 0);
  ASSERT_EQ(Reg({"add", "HKEY_CURRENT_USER\\Software\\Tool", "/v", "n", "/t",
                 "reg_dword", "/d", "0x1234"})
                .status,
            0);
  ASSERT_EQ(Reg({"add", "HKCU\\Software\\Tool", "/v", "q", "/t", "REG_QWORD",
                 "/d", "4294967296"})
                .status,
            0);
  ASSERT_EQ(Reg({"add", "HKCU\\Software\\Tool", "/v", "m", "/t", "REG_MULTI_SZ",
                 "/d", "a,bc", "/s", ","})
                .status,
            0);
  ToolRun bin = Reg({"add", "HKCU\\Software\\Tool", "/v", "b", "/t",
                     "REG_BINARY", "/d", "00ff7F"});
  ASSERT_EQ(bin.status, 0) << bin.err;
  EXPECT_EQ(bin.out, "The operation completed successfully.\n");

  uint32_t type = 0;
  EXPECT_EQ(Stored("Software\\Tool", "s", &type), std::string("abc\0", 4));
  EXPECT_EQ(type, platform::REG_SZ);
  EXPECT_EQ(Stored("Software\\Tool", "", &type), std::string("déf\0", 5));
  EXPECT_EQ(Stored("Software\\Tool", "n", &type),
            std::string("\x34\x12\0\0", 4));
  EXPECT_EQ(type, platform::REG_DWORD);
  EXPECT_EQ(Stored("Software\\Tool", "q", &type),
            std::string("\0\0\0\0\x01\0\0\0", 8));
  EXPECT_EQ(Stored("Software\\Tool", "m", &type), std::string("a\0bc\0\0", 6));
  EXPECT_EQ(type, platform::REG_MULTI_SZ);
  EXPECT_EQ(Stored("Software\\Tool", "b", &type), std::string("\0\xff\x7f", 3));
  EXPECT_EQ(type, platform::REG_BINARY);

  // Replacing keeps one value.
  ASSERT_EQ(
      Reg({"add", "HKCU\\Software\\Tool", "/v", "S", "/d", "x", "/f"}).status,
      0);
  EXPECT_EQ(Stored("Software\\Tool", "s", &type), std::string("x\0", 2));
}

TEST_F(RegToolTest, QueryShowsValuesSubKeysAndTrees) {
  ASSERT_EQ(Reg({"add", "HKCU\\App", "/v", "name", "/d", "Vignettes"}).status,
            0);
  ASSERT_EQ(
      Reg({"add", "HKCU\\App", "/v", "width", "/t", "REG_DWORD", "/d", "150"})
          .status,
      0);
  ASSERT_EQ(Reg({"add", "HKCU\\App\\Été", "/v", "b", "/t", "REG_BINARY", "/d",
                 "0A0b"})
                .status,
            0);
  ASSERT_EQ(Reg({"add", "HKCU\\App\\Empty"}).status, 0);

  ToolRun q = Reg({"query", "HKCU\\App"});
  EXPECT_EQ(q.status, 0) << q.err;
  EXPECT_EQ(q.out,
            "\nHKEY_CURRENT_USER\\App\n"
            "    name    REG_SZ    Vignettes\n"
            "    width    REG_DWORD    0x96\n"
            "\n"
            "HKEY_CURRENT_USER\\App\\Été\n"
            "HKEY_CURRENT_USER\\App\\Empty\n"
            "\n");

  ToolRun tree = Reg({"query", "HKCU\\App", "/s"});
  EXPECT_EQ(tree.status, 0);
  EXPECT_EQ(tree.out,
            "\nHKEY_CURRENT_USER\\App\n"
            "    name    REG_SZ    Vignettes\n"
            "    width    REG_DWORD    0x96\n"
            "\nHKEY_CURRENT_USER\\App\\Été\n"
            "    b    REG_BINARY    0A0B\n"
            "\nHKEY_CURRENT_USER\\App\\Empty\n"
            "\n");

  ToolRun one = Reg({"query", "HKCU\\App", "/v", "width"});
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out,
            "\nHKEY_CURRENT_USER\\App\n    width    REG_DWORD    0x96\n\n");

  ToolRun missing = Reg({"query", "HKCU\\App", "/v", "nope"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err,
            "ERROR: The system was unable to find the specified registry key "
            "or value.\n");
  EXPECT_EQ(Reg({"query", "HKLM\\App"}).status, 1);
}

TEST_F(RegToolTest, DeleteRemovesValuesOrWholeTrees) {
  ASSERT_EQ(Reg({"add", "HKCU\\T\\A\\B", "/v", "x", "/d", "1"}).status, 0);
  ASSERT_EQ(Reg({"add", "HKCU\\T", "/v", "y", "/d", "2"}).status, 0);
  ASSERT_EQ(Reg({"add", "HKCU\\T", "/v", "z", "/d", "3"}).status, 0);
  ASSERT_EQ(Reg({"add", "HKCU\\T", "/ve", "/d", "4"}).status, 0);

  uint32_t type = 0;
  EXPECT_EQ(Reg({"delete", "HKCU\\T", "/v", "Y", "/f"}).status, 0);
  EXPECT_EQ(Stored("T", "y", &type), "<no value>");
  EXPECT_EQ(Stored("T", "z", &type), std::string("3\0", 2));
  EXPECT_EQ(Reg({"delete", "HKCU\\T", "/v", "y"}).status, 1);
  EXPECT_EQ(Reg({"delete", "HKCU\\T", "/va"}).status, 0);
  EXPECT_EQ(Stored("T", "z", &type), "<no value>");
  EXPECT_EQ(Stored("T", "", &type), "<no value>");
  EXPECT_EQ(Stored("T\\A\\B", "x", &type), std::string("1\0", 2));

  ToolRun tree = Reg({"delete", "HKCU\\T\\A"});
  EXPECT_EQ(tree.status, 0) << tree.err;
  EXPECT_EQ(Stored("T\\A\\B", "x", &type), "<no key>");
  EXPECT_EQ(Stored("T\\A", "x", &type), "<no key>");
  EXPECT_NE(Stored("T", "x", &type), "<no key>");

  ToolRun root = Reg({"delete", "HKCU"});
  EXPECT_EQ(root.status, 1);
  EXPECT_NE(root.err.find("root key"), std::string::npos);
  EXPECT_NE(Stored("T", "x", &type), "<no key>");
}

TEST_F(RegToolTest, ExportWritesATextFileAndReplacesOnlyWhenAsked) {
  ASSERT_EQ(
      Reg({"add", "HKCU\\E", "/v", "q\"uote\\", "/d", "say \"hi\""}).status, 0);
  ASSERT_EQ(Reg({"add", "HKCU\\E", "/ve", "/d", "café"}).status, 0);
  ASSERT_EQ(
      Reg({"add", "HKCU\\E", "/v", "n", "/t", "REG_DWORD", "/d", "255"}).status,
      0);
  ASSERT_EQ(
      Reg({"add", "HKCU\\E\\Sub", "/v", "raw", "/t", "REG_NONE", "/d", "01FE"})
          .status,
      0);
  std::string file = hive_.dir() + "/export.reg";
  ToolRun run = Reg({"export", "HKCU\\E", file});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string expected =
      "REGEDIT4\n\n"
      "[HKEY_CURRENT_USER\\E]\n"
      "\"q\\\"uote\\\\\"=\"say \\\"hi\\\"\"\n"
      "@=\"café\"\n"
      "\"n\"=dword:000000ff\n\n"
      "[HKEY_CURRENT_USER\\E\\Sub]\n"
      "\"raw\"=hex(0):01,fe\n\n";
  EXPECT_EQ(ReadFile(file), expected);

  ASSERT_EQ(Reg({"add", "HKCU\\E", "/v", "later", "/d", "x"}).status, 0);
  ToolRun again = Reg({"export", "HKCU\\E", file});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("/y"), std::string::npos);
  EXPECT_EQ(ReadFile(file), expected);
  EXPECT_EQ(Reg({"export", "HKCU\\E", file, "/y"}).status, 0);
  EXPECT_NE(ReadFile(file).find("\"later\"=\"x\""), std::string::npos);
}

TEST_F(RegToolTest, BadCommandLinesExitWithTwoAndHelpWithZero) {
  ToolRun help = Reg({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: vignettes-reg", 0), 0u);
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate", "HKCU\\x"},
      {"query"},
      {"query", "HKXX\\Software"},
      {"query", "HKCU\\x", "/q"},
      {"add", "HKCU\\x", "/v"},
      {"add", "HKCU\\x", "/d", "data"},
      {"add", "HKCU\\x", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"},
      {"add", "HKCU\\x", "/v", "n", "/t", "REG_DWORD", "/d", "12abc"},
      {"add", "HKCU\\x", "/v", "n", "/t", "REG_BINARY", "/d", "abc"},
      {"add", "HKCU\\x", "/v", "n", "/t", "REG_WHATEVER"},
      {"add", "HKCU\\x", "/v", "a", "/ve"},
      {"delete", "HKCU\\x", "/va", "/v", "a"},
      {"export", "HKCU\\x"},
      {"--store"},
  };
  for (const auto& args : bad) {
    ToolRun run = Reg(args);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(run.status, 2) << shown;
    EXPECT_EQ(run.err.rfind("ERROR: ", 0), 0u) << shown;
  }
  // None of them touched the hive.
  uint32_t type = 0;
  EXPECT_EQ(Stored("x", "n", &type), "<no key>");
}

TEST_F(RegToolTest, StoreOptionWinsOverTheEnvironment) {
  std::string other = hive_.dir() + "/other.sqlite3";
  ASSERT_EQ(
      Reg({"--store", other, "add", "HKCU\\Where", "/v", "v", "/d", "option"})
          .status,
      0);
  ASSERT_EQ(Reg({"add", "HKCU\\Where", "/v", "v", "/d", "environment"}).status,
            0);
  ToolRun from_option =
      Reg({"--store=" + other, "query", "HKCU\\Where", "/v", "v"});
  EXPECT_NE(from_option.out.find("option"), std::string::npos);
  uint32_t type = 0;
  EXPECT_EQ(Stored("Where", "v", &type), std::string("environment\0", 12));
}

TEST_F(RegToolTest, OwnOptionsFollowGetoptConventions) {
  const std::string other = hive_.dir() + "/other.sqlite3";
  const std::string third = hive_.dir() + "/third.sqlite3";
  ASSERT_EQ(
      Reg({"--store", other, "add", "HKCU\\O", "/v", "a", "/d", "1"}).status,
      0);
  ASSERT_EQ(
      Reg({"--store=" + other, "add", "HKCU\\O", "/v", "b", "/d", "2"}).status,
      0);
  // An unambiguous prefix, and "--" ending the options.
  ASSERT_EQ(
      Reg({"--sto=" + other, "--", "add", "HKCU\\O", "/v", "c", "/d", "3"})
          .status,
      0);
  // The last --store wins, as with any option given twice.
  ASSERT_EQ(Reg({"--store", third, "--store", other, "add", "HKCU\\O", "/v",
                 "d", "/d", "4"})
                .status,
            0);
  ToolRun all = Reg({"--store", other, "query", "HKCU\\O"});
  EXPECT_EQ(all.out,
            "\nHKEY_CURRENT_USER\\O\n"
            "    a    REG_SZ    1\n"
            "    b    REG_SZ    2\n"
            "    c    REG_SZ    3\n"
            "    d    REG_SZ    4\n"
            "\n");
  uint32_t type = 0;
  EXPECT_EQ(Stored("O", "a", &type), "<no key>");  // not in the default hive

  for (const char* help : {"--help", "-h", "--he"}) {
    ToolRun run = Reg({help});
    EXPECT_EQ(run.status, 0) << help;
    EXPECT_EQ(run.out.rfind("Usage: vignettes-reg", 0), 0u) << help;
  }
  // Help shows the "=" form of --store.
  EXPECT_NE(Reg({"--help"}).out.find("--store=FILE"), std::string::npos);
  ToolRun version = Reg({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("vignettes-reg ", 0), 0u);
  // After the command, the words are reg's: "--help" there is data.
  ASSERT_EQ(Reg({"add", "HKCU\\O", "/v", "h", "/d", "--help"}).status, 0);
  EXPECT_EQ(Stored("O", "h", &type), std::string("--help\0", 7));

  const std::vector<std::vector<std::string>> bad = {
      {"--store"},
      {"--store="},
      {"--store", "", "query", "HKCU\\O"},
      {"--bogus", "query", "HKCU\\O"},
      {"--help=yes"},
      {"--version=2"},
      {"-x", "query", "HKCU\\O"},
      {"--", "--store", other, "query", "HKCU\\O"},
      {"query", "HKCU\\O", "--store", other},
      {"--store", other},
  };
  for (const auto& args : bad) {
    ToolRun run = Reg(args);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(run.status, 2) << shown;
    EXPECT_EQ(run.err.rfind("ERROR: ", 0), 0u) << shown << run.err;
    EXPECT_EQ(run.out, "") << shown;
  }
}

TEST_F(RegToolTest, TheStoreFileAloneHoldsWhatAddWrote) {
  for (int i = 0; i < 30; ++i) {
    std::string name = "v" + std::to_string(i);
    ASSERT_EQ(
        Reg({"add", "HKCU\\Kept", "/v", name, "/d", std::string(200, 'k')})
            .status,
        0);
  }
  // A copy of the file without its -wal, as a careless backup takes it.
  std::string copy = hive_.dir() + "/copy.sqlite3";
  {
    std::ofstream out(copy, std::ios::binary);
    out << ReadFile(hive_.path());
  }
  ToolRun run = Reg({"--store", copy, "query", "HKCU\\Kept", "/v", "v29"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("v29    REG_SZ    kkk"), std::string::npos) << run.out;
}

TEST_F(RegToolTest, BackupCopiesTheStoreAndReplacesOnlyWhenAsked) {
  ASSERT_EQ(
      Reg({"add", "HKCU\\B\\Sub", "/v", "n", "/t", "REG_DWORD", "/d", "7"})
          .status,
      0);
  ASSERT_EQ(Reg({"add", "HKLM\\B", "/ve", "/d", "café"}).status, 0);
  std::string file = hive_.dir() + "/backup.sqlite3";
  ToolRun run = Reg({"backup", file});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "The operation completed successfully.\n");
  EXPECT_FALSE(std::ifstream(file + ".partial").good());
  for (const char* key : {"HKCU\\B", "HKLM\\B"}) {
    ToolRun original = Reg({"export", key, "-"});
    ToolRun copied = Reg({"--store", file, "export", key, "-"});
    EXPECT_EQ(copied.status, 0) << copied.err;
    EXPECT_EQ(copied.out, original.out);
  }

  ASSERT_EQ(Reg({"add", "HKCU\\B", "/v", "later", "/d", "x"}).status, 0);
  ToolRun again = Reg({"backup", file});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("/y"), std::string::npos);
  EXPECT_EQ(Reg({"--store", file, "query", "HKCU\\B", "/v", "later"}).status,
            1);
  EXPECT_EQ(Reg({"backup", file, "/y"}).status, 0);
  EXPECT_EQ(Reg({"--store", file, "query", "HKCU\\B", "/v", "later"}).status,
            0);
  // The backup is a store file like any other: it takes writes.
  EXPECT_EQ(
      Reg({"--store", file, "add", "HKCU\\B", "/v", "w", "/d", "y"}).status, 0);

  EXPECT_EQ(Reg({"backup"}).status, 2);
  EXPECT_EQ(Reg({"backup", hive_.dir() + "/no/such/folder/b.sqlite3"}).status,
            1);
}

// A writer process stores values and says which it has stored; the backup
// runs while it writes, and the writer is killed right after.
TEST_F(RegToolTest,
       ABackupTakenWhileAnotherProcessWritesHoldsEveryAcknowledgedWrite) {
  {
    platform::HKEY key = 0;
    ASSERT_EQ(platform::RegCreateKeyExA(platform::HKEY_CURRENT_USER, "Busy", 0,
                                        nullptr, 0, platform::KEY_ALL_ACCESS,
                                        nullptr, &key, nullptr),
              0);
    ASSERT_EQ(platform::RegCloseKey(key), 0);
  }
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    close(pipe_fds[0]);
    platform::HKEY key = 0;
    if (platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, "Busy", 0,
                                platform::KEY_ALL_ACCESS, &key) != 0) {
      _exit(3);
    }
    for (int i = 0;; ++i) {
      std::string name = "w" + std::to_string(i);
      std::string data(static_cast<size_t>(i % 50) * 40 + 1, 'a' + i % 26);
      if (platform::RegSetValueExA(
              key, name.c_str(), 0, platform::REG_BINARY,
              reinterpret_cast<const uint8_t*>(data.data()),
              static_cast<uint32_t>(data.size())) != 0) {
        _exit(4);
      }
      if (write(pipe_fds[1], &i, sizeof i) != sizeof i) _exit(5);
    }
  }
  close(pipe_fds[1]);
  auto read_acks = [&](int wanted) {
    int last = -1;
    for (int got = 0; got < wanted; ++got) {
      if (read(pipe_fds[0], &last, sizeof last) != sizeof last) return -1;
    }
    return last;
  };
  int acknowledged = read_acks(200);
  ASSERT_GE(acknowledged, 0);
  std::string file = hive_.dir() + "/busy.sqlite3";
  ToolRun run = Reg({"backup", file});
  read_acks(50);  // the writer went on during the backup
  kill(writer, SIGKILL);
  close(pipe_fds[0]);
  int status = 0;
  waitpid(writer, &status, 0);
  ASSERT_EQ(run.status, 0) << run.err;

  platform::SetRegistryStorePath(file);
  platform::HKEY key = 0;
  ASSERT_EQ(platform::RegOpenKeyExA(platform::HKEY_CURRENT_USER, "Busy", 0,
                                    platform::KEY_READ, &key),
            0);
  int missing = 0;
  std::string data(2048, '\0');
  for (int i = 0; i <= acknowledged; ++i) {
    std::string name = "w" + std::to_string(i);
    uint32_t size = static_cast<uint32_t>(data.size());
    if (platform::RegQueryValueExA(key, name.c_str(), nullptr, nullptr,
                                   reinterpret_cast<uint8_t*>(data.data()),
                                   &size) != 0 ||
        std::string(data.data(), size) !=
            std::string(static_cast<size_t>(i % 50) * 40 + 1, 'a' + i % 26)) {
      ++missing;
    }
  }
  EXPECT_EQ(missing, 0) << "of " << acknowledged + 1;
  EXPECT_EQ(platform::RegCloseKey(key), 0);
  platform::SetRegistryStorePath(hive_.path());
}

}  // namespace
}  // namespace vg::registry
