#include "registry/registry_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "registry/registry_testutil.h"

namespace vg::platform {
namespace {

namespace fs = std::filesystem;

// No test key holds this many names: a listing that gets there is looping.
constexpr uint32_t kMaxListed = 10000;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

// A hive of its own in a fresh temporary folder for every test.
class RegistryStoreTest : public ::testing::Test {
 protected:
  // Creates (or opens) a key below HKEY_CURRENT_USER with every right.
  static HKEY Create(const char* path, uint32_t* disposition = nullptr) {
    return registry::testing::CreateKey(HKEY_CURRENT_USER, path, disposition);
  }
  HKEY Open(const char* path, uint32_t rights) {
    HKEY key = 0;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, rights, &key),
              kRegSuccess)
        << path;
    return key;
  }
  static int32_t SetString(HKEY key, const char* name, const std::string& s) {
    return RegSetValueExA(key, name, 0, REG_SZ,
                          reinterpret_cast<const uint8_t*>(s.c_str()),
                          static_cast<uint32_t>(s.size() + 1));
  }
  static std::string GetData(HKEY key, const char* name,
                             uint32_t* type = nullptr) {
    uint32_t size = 0;
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, type, nullptr, &size),
              kRegSuccess);
    std::string data(size, '\0');
    EXPECT_EQ(RegQueryValueExA(key, name, nullptr, type,
                               reinterpret_cast<uint8_t*>(data.data()), &size),
              kRegSuccess);
    return data;
  }
  static std::vector<std::string> ValueNamesOf(HKEY key) {
    std::vector<std::string> names;
    char name[1024];
    for (uint32_t i = 0; i < kMaxListed; ++i) {
      uint32_t chars = sizeof name;
      int32_t r = RegEnumValueA(key, i, name, &chars, nullptr, nullptr, nullptr,
                                nullptr);
      if (r == kRegNoMoreItems) break;
      EXPECT_EQ(r, kRegSuccess);
      if (r != kRegSuccess) break;
      names.emplace_back(name, chars);
    }
    return names;
  }
  static std::vector<std::string> KeyNamesOf(HKEY key) {
    std::vector<std::string> names;
    char name[1024];
    for (uint32_t i = 0; i < kMaxListed; ++i) {
      int32_t r = RegEnumKeyA(key, i, name, sizeof name);
      if (r == kRegNoMoreItems) break;
      EXPECT_EQ(r, kRegSuccess);
      if (r != kRegSuccess) break;
      names.emplace_back(name);
    }
    return names;
  }

  // The value names at `indices`, asked in that order, or with `keys` the
  // sub-key names: "#" and the code where the call fails ("#259": no more
  // items).
  static std::vector<std::string> NamesAt(
      HKEY key, std::initializer_list<uint32_t> indices, bool keys) {
    std::vector<std::string> names;
    for (uint32_t i : indices) {
      char name[32];
      uint32_t chars = sizeof name;
      const int32_t r = keys ? RegEnumKeyA(key, i, name, sizeof name)
                             : RegEnumValueA(key, i, name, &chars, nullptr,
                                             nullptr, nullptr, nullptr);
      if (r != kRegSuccess) {
        names.push_back("#" + std::to_string(r));
      } else {
        names.push_back(keys ? std::string(name) : std::string(name, chars));
      }
    }
    return names;
  }
  static std::vector<std::string> ValuesAt(
      HKEY key, std::initializer_list<uint32_t> indices) {
    return NamesAt(key, indices, false);
  }
  static std::vector<std::string> KeysAt(
      HKEY key, std::initializer_list<uint32_t> indices) {
    return NamesAt(key, indices, true);
  }
  // Creates the sub-keys `names` of `key`, in that order.
  static void CreateSubKeys(HKEY key,
                            std::initializer_list<const char*> names) {
    for (const char* n : names) {
      const HKEY sub = registry::testing::CreateKey(key, n);
      EXPECT_EQ(RegCloseKey(sub), kRegSuccess);
    }
  }
  registry::testing::TempHive temp_;
  const std::string& dir_ = temp_.dir();
  const std::string& hive_ = temp_.path();
};

TEST_F(RegistryStoreTest, BadHandlesAreRefusedByEveryCall) {
  HKEY closed = Create("Software\\Closed");
  ASSERT_EQ(RegCloseKey(closed), kRegSuccess);
  const HKEY bad[] = {0, closed, 12345, static_cast<HKEY>(0x80000004u), -1};
  char name[16];
  uint32_t chars = sizeof name;
  uint32_t size = 0;
  for (HKEY h : bad) {
    SCOPED_TRACE(h);
    HKEY out = 77;
    EXPECT_EQ(RegCreateKeyExA(h, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &out, nullptr),
              kRegInvalidHandle);
    EXPECT_EQ(out, 0);
    out = 77;
    EXPECT_EQ(RegOpenKeyExA(h, "", 0, KEY_READ, &out), kRegInvalidHandle);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(RegCloseKey(h), kRegInvalidHandle);
    EXPECT_EQ(RegQueryValueExA(h, "v", nullptr, nullptr, nullptr, &size),
              kRegInvalidHandle);
    EXPECT_EQ(RegSetValueExA(h, "v", 0, REG_SZ, nullptr, 0), kRegInvalidHandle);
    EXPECT_EQ(
        RegEnumValueA(h, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
        kRegInvalidHandle);
    EXPECT_EQ(RegEnumKeyA(h, 0, name, sizeof name), kRegInvalidHandle);
    EXPECT_EQ(RegDeleteKeyA(h, "x"), kRegInvalidHandle);
    EXPECT_EQ(RegDeleteValueA(h, "v"), kRegInvalidHandle);
  }
  // Nothing was created through any of them.
  HKEY root = Open("", KEY_READ);
  EXPECT_EQ(KeyNamesOf(root), std::vector<std::string>{"Software"});
  EXPECT_EQ(RegCloseKey(root), kRegSuccess);
}

TEST_F(RegistryStoreTest, HandlesAreDistinctNotReusedAndRootsNeverClose) {
  std::set<HKEY> seen;
  for (int i = 0; i < 50; ++i) {
    HKEY key = Create("Software\\Same");
    EXPECT_GT(key, 0);
    EXPECT_TRUE(seen.insert(key).second) << "handle handed out twice: " << key;
    if (i % 2 == 0) {
      EXPECT_EQ(RegCloseKey(key), kRegSuccess);
    }
  }
  EXPECT_EQ(RegistryStoreOpenHandles(), 25u);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), kRegSuccess);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), kRegSuccess);
  HKEY key = Create("Software\\Same");
  EXPECT_EQ(SetString(key, "still", "open"), kRegSuccess);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
  EXPECT_EQ(RegCloseKey(key), kRegInvalidHandle);
}

TEST_F(RegistryStoreTest, CreateMakesEveryMissingKeyOnceAndKeepsTheClass) {
  uint32_t disposition = 0;
  HKEY deep = Create("A\\B\\C", &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again = Create("a\\b\\c", &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  HKEY middle = Create("A\\B\\", &disposition);  // trailing "\" ignored
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(KeyNamesOf(middle), std::vector<std::string>{"C"});

  // The same key through two handles.
  EXPECT_EQ(SetString(deep, "v", "1"), kRegSuccess);
  EXPECT_EQ(GetData(again, "V"), std::string("1", 2));

  // An empty path opens the key itself.
  HKEY self = 0;
  EXPECT_EQ(RegCreateKeyExA(deep, "", 0, nullptr, 0, KEY_READ, nullptr, &self,
                            &disposition),
            kRegSuccess);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(GetData(self, "v"), std::string("1", 2));

  for (HKEY k : {deep, again, middle, self}) EXPECT_EQ(RegCloseKey(k), 0);

  HKEY classed = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Classed", 0, "MyClass", 0,
                            KEY_ALL_ACCESS, nullptr, &classed, nullptr),
            kRegSuccess);
  EXPECT_EQ(RegCloseKey(classed), kRegSuccess);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(hive_.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "SELECT CAST(class AS TEXT) FROM reg_key WHERE "
                               "CAST(name AS TEXT) = 'Classed'",
                               -1, &q, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)),
               "MyClass");
  sqlite3_finalize(q);
  sqlite3_close(db);
}

TEST_F(RegistryStoreTest, BadArgumentsAreInvalidParameters) {
  HKEY out = 0;
  for (const char* path : {"a\\\\b", "\\a", "\\", "a\\\\"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &out, nullptr),
              kRegInvalidParameter);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &out),
              kRegInvalidParameter);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, path), kRegInvalidParameter);
  }
  std::string longest(kRegMaxKeyNameChars, 'k');
  std::string too_long = longest + "k";
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, too_long.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &out, nullptr),
            kRegInvalidParameter);
  HKEY key = Create(longest.c_str());
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, nullptr, 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &out, nullptr),
            kRegInvalidParameter);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 1, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &out, nullptr),
            kRegInvalidParameter);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 0, nullptr, 4,
                            KEY_ALL_ACCESS, nullptr, &out, nullptr),
            kRegInvalidParameter);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, nullptr, nullptr),
            kRegInvalidParameter);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "x", 0, KEY_READ, nullptr),
            kRegInvalidParameter);

  uint32_t reserved = 0;
  uint8_t byte = 0;
  uint32_t size = 1;
  EXPECT_EQ(RegQueryValueExA(key, "v", &reserved, nullptr, nullptr, &size),
            kRegInvalidParameter);
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, &byte, nullptr),
            kRegInvalidParameter);
  EXPECT_EQ(RegSetValueExA(key, "v", 1, REG_SZ, &byte, 1),
            kRegInvalidParameter);
  EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, nullptr, 1),
            kRegInvalidParameter);
  std::string long_name(kRegMaxValueNameChars + 1, 'n');
  EXPECT_EQ(RegSetValueExA(key, long_name.c_str(), 0, REG_SZ, &byte, 1),
            kRegInvalidParameter);
  long_name.pop_back();
  EXPECT_EQ(RegSetValueExA(key, long_name.c_str(), 0, REG_SZ, &byte, 1),
            kRegSuccess);
  char name[8];
  uint32_t chars = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 0, nullptr, &chars, nullptr, nullptr, nullptr,
                          nullptr),
            kRegInvalidParameter);
  EXPECT_EQ(
      RegEnumValueA(key, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr),
      kRegInvalidParameter);
  EXPECT_EQ(RegEnumKeyA(key, 0, nullptr, 8), kRegInvalidParameter);
  EXPECT_EQ(RegDeleteKeyA(key, nullptr), kRegInvalidParameter);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreTest, AccessRightsAreCheckedPerHandle) {
  HKEY all = Create("Rights\\Sub");
  EXPECT_EQ(SetString(all, "v", "x"), kRegSuccess);
  EXPECT_EQ(RegCloseKey(all), kRegSuccess);

  HKEY reader = Open("Rights", KEY_READ);
  uint32_t size = 0;
  char name[64];
  uint32_t chars = sizeof name;
  EXPECT_EQ(SetString(reader, "v", "y"), kRegAccessDenied);
  EXPECT_EQ(RegDeleteValueA(reader, "v"), kRegAccessDenied);
  HKEY out = 0;
  EXPECT_EQ(RegCreateKeyExA(reader, "New", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &out, nullptr),
            kRegAccessDenied);
  EXPECT_EQ(out, 0);
  // Opening an existing key through create needs no right to create.
  EXPECT_EQ(RegCreateKeyExA(reader, "Sub", 0, nullptr, 0, KEY_READ, nullptr,
                            &out, nullptr),
            kRegSuccess);
  EXPECT_EQ(RegQueryValueExA(out, "v", nullptr, nullptr, nullptr, &size),
            kRegSuccess);
  EXPECT_EQ(RegCloseKey(out), kRegSuccess);
  EXPECT_EQ(KeyNamesOf(reader), std::vector<std::string>{"Sub"});
  EXPECT_EQ(RegCloseKey(reader), kRegSuccess);

  HKEY writer = Open("Rights\\Sub", KEY_WRITE);
  EXPECT_EQ(RegQueryValueExA(writer, "v", nullptr, nullptr, nullptr, &size),
            kRegAccessDenied);
  EXPECT_EQ(RegEnumValueA(writer, 0, name, &chars, nullptr, nullptr, nullptr,
                          nullptr),
            kRegAccessDenied);
  EXPECT_EQ(RegEnumKeyA(writer, 0, name, sizeof name), kRegAccessDenied);
  EXPECT_EQ(SetString(writer, "w", "z"), kRegSuccess);
  EXPECT_EQ(RegDeleteValueA(writer, "v"), kRegSuccess);
  EXPECT_EQ(RegCloseKey(writer), kRegSuccess);

  // Generic rights map onto the key rights.
  HKEY generic = Open("Rights\\Sub", GENERIC_READ);
  EXPECT_EQ(GetData(generic, "w"), std::string("z", 2));
  EXPECT_EQ(SetString(generic, "w", "q"), kRegAccessDenied);
  EXPECT_EQ(RegCloseKey(generic), kRegSuccess);
}

TEST_F(RegistryStoreTest, ValuesKeepTheirBytesTypeAndFirstSpelling) {
  HKEY key = Create("Values");
  const uint8_t abc[] = {'a', 'b', 'c', 0};
  ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, abc, 4), kRegSuccess);
  uint32_t type = 99;
  uint32_t size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "NAME", nullptr, &type, nullptr, &size),
            kRegSuccess);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 4u);

  // A string without its NUL stays without; binary data keeps every byte.
  const uint8_t raw[] = {0, 0xFF, 'x', 0, 0x80};
  ASSERT_EQ(RegSetValueExA(key, "name", 0, REG_BINARY, raw, sizeof raw),
            kRegSuccess);
  EXPECT_EQ(GetData(key, "Name", &type),
            std::string(reinterpret_cast<const char*>(raw), sizeof raw));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(ValueNamesOf(key), std::vector<std::string>{"Name"});

  // The unnamed value: null and "" are the same name.
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, 12345, abc, 3), kRegSuccess);
  EXPECT_EQ(GetData(key, "", &type), "abc");
  EXPECT_EQ(type, 12345u);
  // No data at all.
  ASSERT_EQ(RegSetValueExA(key, "empty", 0, REG_NONE, nullptr, 0), kRegSuccess);
  EXPECT_EQ(GetData(key, "empty"), "");
  // Type only.
  ASSERT_EQ(RegQueryValueExA(key, "empty", nullptr, &type, nullptr, nullptr),
            kRegSuccess);
  EXPECT_EQ(type, REG_NONE);

  EXPECT_EQ(RegQueryValueExA(key, "missing", nullptr, &type, nullptr, &size),
            kRegFileNotFound);
  EXPECT_EQ(RegDeleteValueA(key, "missing"), kRegFileNotFound);
  EXPECT_EQ(RegDeleteValueA(key, "NAME"), kRegSuccess);
  EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, nullptr, &size),
            kRegFileNotFound);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreTest, SmallBuffersGetMoreDataAndStayUntouched) {
  HKEY key = Create("Buffers");
  ASSERT_EQ(SetString(key, "v", "hello"), kRegSuccess);  // 6 bytes
  uint8_t buffer[8];
  std::memset(buffer, 0xAA, sizeof buffer);
  uint32_t size = 5;
  uint32_t type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, &type, buffer, &size),
            kRegMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(type, REG_SZ);
  for (uint8_t b : buffer) EXPECT_EQ(b, 0xAA);
  size = 6;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, &type, buffer, &size),
            kRegSuccess);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "hello");
  EXPECT_EQ(buffer[6], 0xAA);

  // Enumeration: a name needs its length + 1 chars.
  std::string long_name(512, 'N');
  ASSERT_EQ(SetString(key, long_name.c_str(), "x"), kRegSuccess);
  std::vector<char> name(600, '#');
  uint32_t chars = 512;
  EXPECT_EQ(RegEnumValueA(key, 1, name.data(), &chars, nullptr, nullptr,
                          nullptr, nullptr),
            kRegMoreData);
  EXPECT_EQ(chars, 513u);
  EXPECT_EQ(name[0], '#');
  chars = 513;
  EXPECT_EQ(RegEnumValueA(key, 1, name.data(), &chars, nullptr, nullptr,
                          nullptr, nullptr),
            kRegSuccess);
  EXPECT_EQ(chars, 512u);
  EXPECT_EQ(std::string(name.data()), long_name);
  EXPECT_EQ(name[513], '#');

  // Data that does not fit blocks the name as well.
  chars = 600;
  size = 1;
  std::memset(buffer, 0xAA, sizeof buffer);
  std::fill(name.begin(), name.end(), '#');
  EXPECT_EQ(
      RegEnumValueA(key, 0, name.data(), &chars, nullptr, &type, buffer, &size),
      kRegMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(name[0], '#');
  EXPECT_EQ(buffer[0], 0xAA);
  chars = 600;
  size = 6;
  EXPECT_EQ(
      RegEnumValueA(key, 0, name.data(), &chars, nullptr, &type, buffer, &size),
      kRegSuccess);
  EXPECT_EQ(std::string(name.data(), chars), "v");
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "hello");

  // The unnamed value has length 0 but still needs room for its NUL.
  ASSERT_EQ(SetString(key, "", "d"), kRegSuccess);
  chars = 0;
  EXPECT_EQ(RegEnumValueA(key, 2, name.data(), &chars, nullptr, nullptr,
                          nullptr, nullptr),
            kRegMoreData);
  chars = 1;
  EXPECT_EQ(RegEnumValueA(key, 2, name.data(), &chars, nullptr, nullptr,
                          nullptr, nullptr),
            kRegSuccess);
  EXPECT_EQ(chars, 0u);
  EXPECT_EQ(name[0], '\0');

  // Sub-key names: the NUL must fit too.
  HKEY sub = 0;
  ASSERT_EQ(RegCreateKeyExA(key, "abcd", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &sub, nullptr),
            kRegSuccess);
  std::fill(name.begin(), name.end(), '#');
  EXPECT_EQ(RegEnumKeyA(key, 0, name.data(), 4), kRegMoreData);
  EXPECT_EQ(name[0], '#');
  EXPECT_EQ(RegEnumKeyA(key, 0, name.data(), 5), kRegSuccess);
  EXPECT_STREQ(name.data(), "abcd");
  EXPECT_EQ(RegCloseKey(sub), kRegSuccess);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreTest, NamesFoldCaseBeyondAsciiAndKeepOddBytes) {
  HKEY key = Create("\xC3\x89t\xC3\xA9");           // "Été"
  HKEY same = Open("\xC3\xa9T\xC3\x89", KEY_READ);  // "éTÉ"
  ASSERT_EQ(SetString(key, "Caf\xC3\xA9", "cr\xC3\xA8me"), kRegSuccess);
  EXPECT_EQ(GetData(same, "CAF\xC3\x89"),
            "cr\xC3\xA8me" + std::string(1, '\0'));
  // Greek and Cyrillic fold too; the name keeps its first spelling.
  ASSERT_EQ(SetString(key, "\xCF\x83\xD0\xB4", "1"), kRegSuccess);  // "σд"
  ASSERT_EQ(SetString(key, "\xCE\xA3\xD0\x94", "2"), kRegSuccess);  // "ΣД"
  EXPECT_EQ(ValueNamesOf(key),
            (std::vector<std::string>{"Caf\xC3\xA9", "\xCF\x83\xD0\xB4"}));
  // Bytes that are not UTF-8 are names like any other, byte for byte.
  const char odd[] = "caf\xE9\xFF";
  ASSERT_EQ(SetString(key, odd, "3"), kRegSuccess);
  EXPECT_EQ(GetData(key, odd), std::string("3", 2));
  EXPECT_EQ(ValueNamesOf(key).back(), odd);
  // "é" is not "e".
  uint32_t size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Cafe", nullptr, nullptr, nullptr, &size),
            kRegFileNotFound);
  std::vector<std::string> roots_children = KeyNamesOf(HKEY_CURRENT_USER);
  EXPECT_EQ(roots_children, std::vector<std::string>{"\xC3\x89t\xC3\xA9"});
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
  EXPECT_EQ(RegCloseKey(same), kRegSuccess);
}

TEST_F(RegistryStoreTest,
       EnumerationFollowsInsertionOrderWhateverTheIndexOrder) {
  HKEY key = Create("Order");
  const char* names[] = {"zeta", "Alpha", "mid", "beta", "omega"};
  for (const char* n : names) ASSERT_EQ(SetString(key, n, n), kRegSuccess);
  // Rewriting a value keeps its place.
  ASSERT_EQ(SetString(key, "ZETA", "again"), kRegSuccess);
  EXPECT_EQ(ValueNamesOf(key), (std::vector<std::string>{"zeta", "Alpha", "mid",
                                                         "beta", "omega"}));

  // Indices asked out of order, repeated and backwards give the same names
  // as a plain walk.
  using Names = std::vector<std::string>;
  EXPECT_EQ(
      ValuesAt(key, {3, 3, 4, 1, 0, 2, 5, 1000}),
      (Names{"beta", "beta", "omega", "Alpha", "zeta", "mid", "#259", "#259"}));

  // Deleting during a walk: the walk goes on with the value after.
  EXPECT_EQ(ValuesAt(key, {0, 1}), (Names{"zeta", "Alpha"}));
  ASSERT_EQ(RegDeleteValueA(key, "mid"), kRegSuccess);
  EXPECT_EQ(ValuesAt(key, {2, 3, 4}), (Names{"beta", "omega", "#259"}));

  // Sub-keys likewise, in creation order.
  CreateSubKeys(key, {"k3", "K1", "k2"});
  EXPECT_EQ(KeyNamesOf(key), (Names{"k3", "K1", "k2"}));
  EXPECT_EQ(KeysAt(key, {2, 0, 3}), (Names{"k2", "k3", "#259"}));
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreTest, DeletingKeysAndWhatOpenHandlesSeeAfterwards) {
  HKEY parent = Create("Del\\Child");
  EXPECT_EQ(RegCloseKey(parent), kRegSuccess);
  HKEY del = Open("Del", KEY_ALL_ACCESS);
  HKEY child = Open("Del\\Child", KEY_ALL_ACCESS);
  ASSERT_EQ(SetString(child, "v", "1"), kRegSuccess);

  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Del"), kRegAccessDenied);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Del\\Nope"), kRegFileNotFound);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), kRegAccessDenied);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), kRegAccessDenied);
  EXPECT_EQ(RegDeleteKeyA(del, "CHILD"), kRegSuccess);

  uint32_t size = 0;
  char name[16];
  uint32_t chars = sizeof name;
  HKEY out = 0;
  EXPECT_EQ(RegQueryValueExA(child, "v", nullptr, nullptr, nullptr, &size),
            kRegKeyDeleted);
  EXPECT_EQ(SetString(child, "v", "2"), kRegKeyDeleted);
  EXPECT_EQ(RegDeleteValueA(child, "v"), kRegKeyDeleted);
  EXPECT_EQ(
      RegEnumValueA(child, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
      kRegKeyDeleted);
  EXPECT_EQ(RegEnumKeyA(child, 0, name, sizeof name), kRegKeyDeleted);
  EXPECT_EQ(RegOpenKeyExA(child, "", 0, KEY_READ, &out), kRegKeyDeleted);
  EXPECT_EQ(RegCreateKeyExA(child, "x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &out, nullptr),
            kRegKeyDeleted);
  EXPECT_EQ(RegDeleteKeyA(child, ""), kRegKeyDeleted);

  // A new key of the same name is another key: the old handle stays dead.
  HKEY reborn = Create("Del\\Child");
  EXPECT_EQ(SetString(child, "v", "3"), kRegKeyDeleted);
  EXPECT_EQ(RegQueryValueExA(reborn, "v", nullptr, nullptr, nullptr, &size),
            kRegFileNotFound);
  EXPECT_EQ(RegCloseKey(child), kRegSuccess);

  // A key can delete itself through its own handle.
  EXPECT_EQ(RegDeleteKeyA(reborn, ""), kRegSuccess);
  EXPECT_EQ(RegDeleteKeyA(del, "Child"), kRegFileNotFound);
  EXPECT_EQ(RegCloseKey(reborn), kRegSuccess);
  EXPECT_EQ(KeyNamesOf(del), std::vector<std::string>{});
  EXPECT_EQ(RegCloseKey(del), kRegSuccess);
}

TEST_F(RegistryStoreTest, NoRootCanBeDeleted) {
  // A fresh hive: no root has a sub-key, so only being a root refuses.
  const HKEY roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
                        HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_CONFIG};
  for (HKEY root : roots) {
    SCOPED_TRACE(root);
    EXPECT_EQ(RegDeleteKeyA(root, ""), kRegAccessDenied);
    // Nor through a handle of its own on the root.
    HKEY self = 0;
    ASSERT_EQ(RegOpenKeyExA(root, "", 0, KEY_ALL_ACCESS, &self), kRegSuccess);
    EXPECT_EQ(RegDeleteKeyA(self, ""), kRegAccessDenied);
    EXPECT_EQ(RegCloseKey(self), kRegSuccess);
  }
  // Every root still holds keys.
  for (HKEY root : roots) {
    SCOPED_TRACE(root);
    HKEY key = 0;
    EXPECT_EQ(RegCreateKeyExA(root, "Still", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              kRegSuccess);
    EXPECT_EQ(RegCloseKey(key), kRegSuccess);
  }
}

TEST_F(RegistryStoreTest, AnIndexIsThePositionInTheListAsItIsNow) {
  HKEY key = Create("Now");
  for (const char* n : {"A", "B", "C", "D"}) {
    ASSERT_EQ(SetString(key, n, n), kRegSuccess);
  }
  CreateSubKeys(key, {"A", "B", "C", "D"});
  using Names = std::vector<std::string>;

  // An entry before the last index asked is deleted: the list is B, C, D.
  EXPECT_EQ(ValuesAt(key, {0, 1}), (Names{"A", "B"}));
  ASSERT_EQ(RegDeleteValueA(key, "A"), kRegSuccess);
  EXPECT_EQ(ValuesAt(key, {1, 2, 3, 0}), (Names{"C", "D", "#259", "B"}));
  EXPECT_EQ(KeysAt(key, {0, 1, 2}), (Names{"A", "B", "C"}));
  ASSERT_EQ(RegDeleteKeyA(key, "A"), kRegSuccess);
  EXPECT_EQ(KeysAt(key, {2, 3}), (Names{"D", "#259"}));

  // The same when another connection (another process) deletes, and when
  // a deletion and an insertion leave the count as it was.
  EXPECT_EQ(ValuesAt(key, {0, 1}), (Names{"B", "C"}));
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(hive_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other,
                         "DELETE FROM reg_value WHERE fold = CAST('B' AS BLOB)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(ValuesAt(key, {1, 0}), (Names{"D", "C"}));
  ASSERT_EQ(RegDeleteValueA(key, "C"), kRegSuccess);
  ASSERT_EQ(SetString(key, "E", "E"), kRegSuccess);
  EXPECT_EQ(ValuesAt(key, {1}), (Names{"E"}));
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreTest, TypeAndSizeMayShareOneVariable) {
  HKEY key = Create("Shared");
  const uint8_t bin32[] = {1, 2, 3, 4};
  ASSERT_EQ(RegSetValueExA(key, "BIN32", 0, REG_BINARY, bin32, 4), kRegSuccess);
  // Ported callers pass one variable for both: it holds the buffer size on
  // entry and the data size on return.
  uint8_t buffer[4] = {};
  uint32_t size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "BIN32", nullptr, &size, buffer, &size),
            kRegSuccess);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::memcmp(buffer, bin32, 4), 0);

  char name[16];
  uint32_t chars = sizeof name;
  std::memset(buffer, 0, sizeof buffer);
  size = sizeof buffer;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &chars, nullptr, &size, buffer, &size),
            kRegSuccess);
  EXPECT_STREQ(name, "BIN32");
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::memcmp(buffer, bin32, 4), 0);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

// A size query of a missing value learns 0; a read keeps the size of its
// buffer and finds the buffer untouched.
TEST_F(RegistryStoreTest, AMissingValueAnswersSizeZeroOnlyToASizeQuery) {
  HKEY key = Create("Missing");
  uint32_t type = 77;
  uint32_t size = 77;
  EXPECT_EQ(RegQueryValueExA(key, "nope", nullptr, &type, nullptr, &size),
            kRegFileNotFound);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(type, 77u);
  uint8_t buffer[8];
  std::memset(buffer, 0xAA, sizeof buffer);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "nope", nullptr, &type, buffer, &size),
            kRegFileNotFound);
  EXPECT_EQ(size, sizeof buffer);
  EXPECT_EQ(type, 77u);
  for (uint8_t b : buffer) EXPECT_EQ(b, 0xAA);
  // A value deleted since is missing the same way.
  ASSERT_EQ(SetString(key, "gone", "abc"), kRegSuccess);
  ASSERT_EQ(RegDeleteValueA(key, "gone"), kRegSuccess);
  size = 3;
  EXPECT_EQ(RegQueryValueExA(key, "gone", nullptr, nullptr, buffer, &size),
            kRegFileNotFound);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
}

TEST_F(RegistryStoreTest, ClosingTheLastHandleLeavesEveryWriteInTheStoreFile) {
  HKEY key = Create("Saved");
  HKEY other = Create("Saved\\Other");
  for (int i = 0; i < 40; ++i) {
    std::string name = "v" + std::to_string(i);
    ASSERT_EQ(SetString(key, name.c_str(), std::string(300, 'a' + i % 26)),
              kRegSuccess);
  }
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
  EXPECT_EQ(RegCloseKey(other), kRegSuccess);
  // The store file alone, as a file copy takes it, without its -wal.
  const std::string copy = dir_ + "/copy.sqlite3";
  fs::copy_file(hive_, copy);
  SetRegistryStorePath(copy);
  HKEY back = Open("Saved", KEY_READ);
  EXPECT_EQ(ValueNamesOf(back).size(), 40u);
  EXPECT_EQ(GetData(back, "v39"), std::string(300, 'n') + '\0');
  EXPECT_EQ(KeyNamesOf(back), std::vector<std::string>{"Other"});
  EXPECT_EQ(RegCloseKey(back), kRegSuccess);
}

TEST_F(RegistryStoreTest, AReadOnlyHiveIsReadAndRefusesWrites) {
  HKEY key = Create("Kept\\Sub");
  ASSERT_EQ(SetString(key, "v", "old"), kRegSuccess);
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
  SetRegistryStorePath(dir_ + "/elsewhere.sqlite3");  // closes the hive
  const std::string before = FileBytes(hive_);
  ASSERT_EQ(chmod(hive_.c_str(), 0444), 0);

  for (bool folder_read_only : {false, true}) {
    SCOPED_TRACE(folder_read_only ? "read-only folder" : "writable folder");
    // A read-only medium: not even a file beside the hive can be made.
    ASSERT_EQ(chmod(dir_.c_str(), folder_read_only ? 0555 : 0755), 0);
    {
      vg::registry::testing::WithoutFileOverride as_a_user;
      SetRegistryStorePath(hive_);
      HKEY reader = Open("Kept", KEY_READ);
      EXPECT_EQ(KeyNamesOf(reader), std::vector<std::string>{"Sub"});
      HKEY sub = 0;
      // Opening an existing key through create writes nothing: allowed.
      EXPECT_EQ(RegCreateKeyExA(reader, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &sub, nullptr),
                kRegSuccess);
      EXPECT_EQ(GetData(sub, "v"), std::string("old", 4));
      EXPECT_EQ(ValueNamesOf(sub), std::vector<std::string>{"v"});

      HKEY out = 0;
      EXPECT_EQ(SetString(sub, "v", "new"), kRegAccessDenied);
      EXPECT_EQ(SetString(sub, "w", "new"), kRegAccessDenied);
      EXPECT_EQ(RegDeleteValueA(sub, "v"), kRegAccessDenied);
      EXPECT_EQ(RegCreateKeyExA(sub, "New", 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &out, nullptr),
                kRegAccessDenied);
      EXPECT_EQ(out, 0);
      EXPECT_EQ(RegDeleteKeyA(reader, "Sub"), kRegAccessDenied);
      EXPECT_EQ(GetData(sub, "v"), std::string("old", 4));
      EXPECT_EQ(RegCloseKey(sub), kRegSuccess);
      EXPECT_EQ(RegCloseKey(reader), kRegSuccess);
      SetRegistryStorePath(dir_ + "/elsewhere.sqlite3");
    }
    ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
  }
  // Nothing was lost or changed, nor left beside the hive to refuse writes
  // once it is writable again.
  EXPECT_TRUE(FileBytes(hive_) == before) << "the read-only hive changed";
  EXPECT_FALSE(fs::exists(hive_ + "-shm"));
  EXPECT_FALSE(fs::exists(hive_ + "-wal"));

  // A hive in use by a program that opened it before it was protected: the
  // reader shares that program's WAL and sees its changes.
  ASSERT_EQ(chmod(hive_.c_str(), 0600), 0);
  sqlite3* owner = nullptr;
  ASSERT_EQ(sqlite3_open(hive_.c_str(), &owner), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(owner, "SELECT count(*) FROM reg_key", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  ASSERT_EQ(chmod(hive_.c_str(), 0444), 0);
  {
    vg::registry::testing::WithoutFileOverride as_a_user;
    SetRegistryStorePath(hive_);
    HKEY sub = Open("Kept\\Sub", KEY_ALL_ACCESS);
    EXPECT_EQ(GetData(sub, "v"), std::string("old", 4));
    ASSERT_EQ(sqlite3_exec(owner,
                           "UPDATE reg_value SET data = x'6E6F7700' "  // "now"
                           "WHERE fold = CAST('V' AS BLOB)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    EXPECT_EQ(GetData(sub, "v"), std::string("now", 4));
    EXPECT_EQ(SetString(sub, "v", "new"), kRegAccessDenied);
    EXPECT_EQ(RegCloseKey(sub), kRegSuccess);
    SetRegistryStorePath(dir_ + "/elsewhere.sqlite3");
  }
  sqlite3_close(owner);

  ASSERT_EQ(chmod(hive_.c_str(), 0600), 0);
  SetRegistryStorePath(hive_);
  HKEY again = Open("Kept\\Sub", KEY_ALL_ACCESS);
  EXPECT_EQ(GetData(again, "v"), std::string("now", 4));
  EXPECT_EQ(SetString(again, "v", "new"), kRegSuccess);
  EXPECT_EQ(RegCloseKey(again), kRegSuccess);
}

TEST_F(RegistryStoreTest, RootsAreSeparateTrees) {
  const HKEY a = registry::testing::CreateKey(HKEY_LOCAL_MACHINE, "Only");
  ASSERT_NE(a, 0);
  HKEY out = 0;
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS,
                    HKEY_CURRENT_CONFIG}) {
    EXPECT_EQ(RegOpenKeyExA(root, "Only", 0, KEY_READ, &out), kRegFileNotFound);
  }
  EXPECT_EQ(RegCloseKey(a), kRegSuccess);
}

TEST_F(RegistryStoreTest, DataSurvivesReopeningTheHive) {
  HKEY key = Create("Persist");
  ASSERT_EQ(SetString(key, "v", "kept"), kRegSuccess);
  SetRegistryStorePath(hive_);  // closes; every handle goes
  EXPECT_EQ(RegCloseKey(key), kRegInvalidHandle);
  EXPECT_EQ(RegistryStoreOpenHandles(), 0u);
  HKEY again = Open("Persist", KEY_READ);
  EXPECT_EQ(GetData(again, "v"), std::string("kept", 5));
  EXPECT_EQ(RegCloseKey(again), kRegSuccess);
}

TEST_F(RegistryStoreTest, AFileThatIsNotAHiveIsLeftAlone) {
  // Another program's SQLite database, in the default rollback journal mode.
  std::string other = dir_ + "/other.sqlite3";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string before = FileBytes(other);
  SetRegistryStorePath(other);
  HKEY out = 0;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &out),
            kRegIoFailed);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &out, nullptr),
            kRegIoFailed);
  SetRegistryStorePath(hive_);
  // Not one byte changed (not even the journal mode in its header), and no
  // journal of ours beside it.
  EXPECT_TRUE(FileBytes(other) == before) << "the other program's file changed";
  EXPECT_FALSE(fs::exists(other + "-wal"));
  EXPECT_FALSE(fs::exists(other + "-shm"));

  // Not a database at all, and a folder that does not exist.
  std::string text = dir_ + "/notes.txt";
  std::ofstream(text) << "these are not the bytes of a database, not at all";
  SetRegistryStorePath(text);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &out),
            kRegIoFailed);
  SetRegistryStorePath(dir_ + "/no/such/folder/hive.sqlite3");
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "x", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &out, nullptr),
            kRegIoFailed);
  EXPECT_EQ(out, 0);
}

TEST_F(RegistryStoreTest, DefaultPathFollowsXdgDataHomeAndMakesTheFolder) {
  const char* saved_xdg = std::getenv("XDG_DATA_HOME");
  const char* saved_home = std::getenv("HOME");
  std::string old_xdg = saved_xdg ? saved_xdg : "";
  std::string old_home = saved_home ? saved_home : "";

  setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
  EXPECT_EQ(DefaultRegistryStorePath(),
            dir_ + "/data/vignettes/registry.sqlite3");
  SetRegistryStorePath("");
  EXPECT_EQ(RegistryStorePath(), dir_ + "/data/vignettes/registry.sqlite3");
  HKEY key = Create("Default");
  EXPECT_EQ(RegCloseKey(key), kRegSuccess);
  EXPECT_TRUE(fs::exists(dir_ + "/data/vignettes/registry.sqlite3"));
  struct stat st {};
  ASSERT_EQ(stat((dir_ + "/data/vignettes").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  unsetenv("XDG_DATA_HOME");
  setenv("HOME", (dir_ + "/home").c_str(), 1);
  EXPECT_EQ(DefaultRegistryStorePath(),
            dir_ + "/home/.local/share/vignettes/registry.sqlite3");
  setenv("XDG_DATA_HOME", "relative/path", 1);  // ignored: not absolute
  EXPECT_EQ(DefaultRegistryStorePath(),
            dir_ + "/home/.local/share/vignettes/registry.sqlite3");

  if (saved_xdg) {
    setenv("XDG_DATA_HOME", old_xdg.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
  if (saved_home) {
    setenv("HOME", old_home.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

TEST_F(RegistryStoreTest, ThreadsShareTheStoreSafely) {
  HKEY shared = Create("Threads");
  constexpr int kThreads = 4;
  constexpr int kPerThread = 40;
  std::vector<std::thread> threads;
  std::vector<std::vector<HKEY>> handles(kThreads);
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        std::string name = "t" + std::to_string(t) + "_" + std::to_string(i);
        if (SetString(shared, name.c_str(), name) != kRegSuccess) ++failures;
        HKEY sub = 0;
        if (RegCreateKeyExA(shared, name.c_str(), 0, nullptr, 0, KEY_READ,
                            nullptr, &sub, nullptr) != kRegSuccess) {
          ++failures;
        }
        handles[t].push_back(sub);
        char buf[64];
        uint32_t chars = sizeof buf;
        int32_t r = RegEnumValueA(shared, 0, buf, &chars, nullptr, nullptr,
                                  nullptr, nullptr);
        if (r != kRegSuccess) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  std::set<HKEY> distinct;
  for (auto& list : handles) {
    for (HKEY h : list) {
      distinct.insert(h);
      EXPECT_EQ(RegCloseKey(h), kRegSuccess);
    }
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kPerThread));
  EXPECT_EQ(ValueNamesOf(shared).size(),
            static_cast<size_t>(kThreads * kPerThread));
  EXPECT_EQ(KeyNamesOf(shared).size(),
            static_cast<size_t>(kThreads * kPerThread));
  EXPECT_EQ(RegCloseKey(shared), kRegSuccess);
}

}  // namespace
}  // namespace vg::platform
