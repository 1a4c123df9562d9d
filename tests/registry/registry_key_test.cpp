#include "registry/registry_key.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "registry/registry_store.h"
#include "registry/registry_testutil.h"

namespace vg::registry {
namespace {

using platform::Error;
using platform::HKEY_CURRENT_USER;
using platform::KEY_ALL_ACCESS;
using platform::KEY_READ;
using platform::KEY_WRITE;
using platform::kRegSuccess;

// Runs `body` and returns the Error it raised; fails the test when it raised
// none.
template <class Body>
Error Raised(Body&& body) {
  try {
    body();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return Error(0, "", "");
}

// True when the key exists, checked through the store itself.
bool KeyExists(const char* path) {
  platform::HKEY key = 0;
  if (platform::RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) !=
      kRegSuccess) {
    return false;
  }
  EXPECT_EQ(platform::RegCloseKey(key), kRegSuccess);
  return true;
}

std::string StoredBytes(platform::HKEY key, const char* name, uint32_t* type) {
  uint32_t size = 0;
  EXPECT_EQ(
      platform::RegQueryValueExA(key, name, nullptr, type, nullptr, &size),
      kRegSuccess);
  std::string data(size, '\0');
  EXPECT_EQ(platform::RegQueryValueExA(key, name, nullptr, type,
                                       reinterpret_cast<uint8_t*>(data.data()),
                                       &size),
            kRegSuccess);
  return data;
}

std::vector<std::u16string> All(const NameList& names) {
  return std::vector<std::u16string>(names.begin(), names.end());
}

class RegistryKeyTest : public ::testing::Test {
 protected:
  testing::TempHive hive_;
};

TEST_F(RegistryKeyTest, CreateKeyTellsNewFromExistingAndFailed) {
  RegistryKey key;
  EXPECT_EQ(key.handle(), 0);
  EXPECT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"Software\\Vignettes"));
  platform::HKEY first = key.handle();
  EXPECT_NE(first, 0);
  // Default rights are all rights: write, read and list.
  key.set_value(u"v", u"x");
  EXPECT_EQ(key.value(u"v"), u"x");
  EXPECT_EQ(key.ValueNames().Count(), 1);

  EXPECT_FALSE(key.CreateKey(HKEY_CURRENT_USER, u"software\\VIGNETTES"));
  EXPECT_NE(key.handle(), 0);
  EXPECT_EQ(platform::RegCloseKey(first), platform::kRegInvalidHandle);
  EXPECT_EQ(platform::RegistryStoreOpenHandles(), 1u);

  // A path that cannot be created: false, no key, nothing raised.
  EXPECT_FALSE(key.CreateKey(HKEY_CURRENT_USER, u"a\\\\b"));
  EXPECT_EQ(key.handle(), 0);
  EXPECT_FALSE(key.CreateKey(0, u"x"));
  EXPECT_EQ(key.handle(), 0);
  EXPECT_EQ(platform::RegistryStoreOpenHandles(), 0u);

  // Rights given are the rights held.
  EXPECT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"ReadOnly", u"", 0, KEY_READ));
  Error e = Raised([&] { key.set_value(u"v", u"x"); });
  EXPECT_EQ(e.number(), platform::kRegAccessDenied);
}

TEST_F(RegistryKeyTest, OpenKeyCreatesOnlyForExactlyKeyWrite) {
  RegistryKey key;
  key.OpenKey(HKEY_CURRENT_USER, u"Missing", KEY_READ);
  EXPECT_EQ(key.handle(), 0);
  key.OpenKey(HKEY_CURRENT_USER, u"Missing", KEY_ALL_ACCESS);  // has the bits
  EXPECT_EQ(key.handle(), 0);
  key.OpenKey(HKEY_CURRENT_USER, u"Missing", KEY_WRITE | KEY_READ);
  EXPECT_EQ(key.handle(), 0);
  EXPECT_FALSE(KeyExists("Missing"));

  key.OpenKey(HKEY_CURRENT_USER, u"Made\\For\\Writing", KEY_WRITE);
  EXPECT_NE(key.handle(), 0);
  EXPECT_TRUE(KeyExists("Made\\For\\Writing"));
  EXPECT_EQ(platform::RegistryStoreOpenHandles(), 1u);
  // Open under KEY_WRITE: it writes, it does not read.
  key.set_value(u"w", 1);
  Error e = Raised([&] { (void)key.value(u"w"); });
  EXPECT_EQ(e.number(), platform::kRegAccessDenied);
  EXPECT_EQ(e.source(), "RegistryKey.Get Value");

  // Opening another key closes this one.
  platform::HKEY old = key.handle();
  key.OpenKey(HKEY_CURRENT_USER, u"Made", KEY_READ);
  EXPECT_NE(key.handle(), 0);
  EXPECT_EQ(platform::RegCloseKey(old), platform::kRegInvalidHandle);
  EXPECT_EQ(platform::RegistryStoreOpenHandles(), 1u);
  EXPECT_EQ(All(key.SubKeyNames()), std::vector<std::u16string>{u"For"});

  // A failed open leaves no key open.
  key.OpenKey(HKEY_CURRENT_USER, u"Nope", KEY_READ);
  EXPECT_EQ(key.handle(), 0);
  EXPECT_EQ(platform::RegistryStoreOpenHandles(), 0u);
}

TEST_F(RegistryKeyTest, CloseKeyFailureKeepsTheHandleAndTheDestructorReports) {
  RegistryKey key;
  key.CloseKey();  // nothing open: nothing happens
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"Closing"));
  key.CloseKey();
  key.CloseKey();
  EXPECT_EQ(key.handle(), 0);

  ASSERT_FALSE(key.CreateKey(HKEY_CURRENT_USER, u"Closing"));
  platform::HKEY h = key.handle();
  // Closed behind the object's back: its own close now fails.
  ASSERT_EQ(platform::RegCloseKey(h), kRegSuccess);
  Error e = Raised([&] { key.CloseKey(); });
  EXPECT_EQ(e.number(), platform::kRegInvalidHandle);
  EXPECT_EQ(e.source(), "RegistryKey.CloseKey");
  EXPECT_EQ(e.description(), "An error occurred while closing the registy key");
  EXPECT_EQ(e.help_file(), "");
  EXPECT_EQ(key.handle(), h);

  // CreateKey and OpenKey raise that close error and touch nothing.
  e = Raised([&] { key.CreateKey(HKEY_CURRENT_USER, u"NotMade"); });
  EXPECT_EQ(e.source(), "RegistryKey.CloseKey");
  EXPECT_FALSE(KeyExists("NotMade"));
  e = Raised([&] { key.OpenKey(HKEY_CURRENT_USER, u"NotMade", KEY_WRITE); });
  EXPECT_EQ(e.source(), "RegistryKey.CloseKey");
  EXPECT_FALSE(KeyExists("NotMade"));
  EXPECT_EQ(key.handle(), h);

  ::testing::internal::CaptureStderr();
  { RegistryKey doomed = std::move(key); }
  std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("An error occurred while closing the registy key (6)"),
            std::string::npos)
      << report;
  EXPECT_EQ(key.handle(), 0);  // moved from
}

TEST_F(RegistryKeyTest, MovingHandsOverTheOneHandle) {
  RegistryKey a;
  ASSERT_TRUE(a.CreateKey(HKEY_CURRENT_USER, u"A"));
  RegistryKey b;
  ASSERT_TRUE(b.CreateKey(HKEY_CURRENT_USER, u"B"));
  platform::HKEY old_b = b.handle();
  platform::HKEY ha = a.handle();
  b = std::move(a);
  EXPECT_EQ(a.handle(), 0);
  EXPECT_EQ(b.handle(), ha);
  EXPECT_EQ(platform::RegCloseKey(old_b), platform::kRegInvalidHandle);
  {
    RegistryKey c(std::move(b));
    EXPECT_EQ(c.handle(), ha);
  }
  EXPECT_EQ(platform::RegistryStoreOpenHandles(), 0u);
}

TEST_F(RegistryKeyTest, ValuesAreWrittenAsStringsAndReadAsText) {
  RegistryKey key;
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"Values"));
  key.set_value(u"s", u"abc");
  uint32_t type = 0;
  EXPECT_EQ(StoredBytes(key.handle(), "s", &type), std::string("abc\0", 4));
  EXPECT_EQ(type, platform::REG_SZ);
  EXPECT_EQ(key.value(u"s"), u"abc");
  EXPECT_EQ(key.value(u"S"), u"abc");

  key.set_value(u"n", 12);
  EXPECT_EQ(StoredBytes(key.handle(), "n", &type), std::string("12\0", 3));
  key.set_value(u"e", Variant{});
  EXPECT_EQ(StoredBytes(key.handle(), "e", &type), std::string(1, '\0'));
  EXPECT_EQ(key.value(u"e"), u"");
  key.set_value(u"", u"default");
  EXPECT_EQ(key.value(u""), u"default");
  key.set_value(u"b", true);
  EXPECT_EQ(key.value(u"b"), u"True");
  key.set_value(u"d", 0.5);
  EXPECT_EQ(key.value(u"d"), u"0.5");

  // Written by others: no data, a number, bytes with NULs inside.
  ASSERT_EQ(platform::RegSetValueExA(key.handle(), "zero", 0,
                                     platform::REG_BINARY, nullptr, 0),
            kRegSuccess);
  EXPECT_EQ(key.value(u"zero"), u"");
  const uint8_t dword[] = {150, 0, 0, 0};
  ASSERT_EQ(platform::RegSetValueExA(key.handle(), "dword", 0,
                                     platform::REG_DWORD, dword, 4),
            kRegSuccess);
  EXPECT_EQ(key.value(u"dword"), (std::u16string{0xDC96, 0, 0}));
  const uint8_t inner[] = {'a', 0, 'b', 0};
  ASSERT_EQ(platform::RegSetValueExA(key.handle(), "multi", 0,
                                     platform::REG_MULTI_SZ, inner, 4),
            kRegSuccess);
  EXPECT_EQ(key.value(u"multi"), std::u16string(u"a\0b", 3));
}

TEST_F(RegistryKeyTest, DataWithoutAFinalNulLosesNoCharacter) {
  RegistryKey key;
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"NoNul"));
  // The usual strlen() call of ported code: no terminating NUL stored.
  ASSERT_EQ(
      platform::RegSetValueExA(key.handle(), "Width", 0, platform::REG_SZ,
                               reinterpret_cast<const uint8_t*>("150"), 3),
      kRegSuccess);
  EXPECT_EQ(key.value(u"Width"), u"150");
  // A last character of several bytes, and a number whose last byte is not
  // 0, stay whole.
  ASSERT_EQ(platform::RegSetValueExA(
                key.handle(), "euro", 0, platform::REG_SZ,
                reinterpret_cast<const uint8_t*>("x\xE2\x82\xAC"), 4),
            kRegSuccess);
  EXPECT_EQ(key.value(u"euro"), u"x€");
  const uint8_t dword[] = {'A', 'B', 'C', 'D'};
  ASSERT_EQ(platform::RegSetValueExA(key.handle(), "dword", 0,
                                     platform::REG_DWORD, dword, 4),
            kRegSuccess);
  EXPECT_EQ(key.value(u"dword"), u"ABCD");
  // One NUL goes, and only one.
  ASSERT_EQ(
      platform::RegSetValueExA(key.handle(), "two", 0, platform::REG_SZ,
                               reinterpret_cast<const uint8_t*>("ab\0"), 4),
      kRegSuccess);
  EXPECT_EQ(key.value(u"two"), std::u16string(u"ab\0", 3));
}

TEST_F(RegistryKeyTest, NullWritesNothingAndFailuresRaiseTheStoreCode) {
  RegistryKey key;
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"Errors"));
  Error e = Raised([&] { key.set_value(u"null", Null{}); });
  EXPECT_EQ(e.number(), platform::kErrInvalidUseOfNull);
  EXPECT_EQ(e.description(), "Invalid use of Null");
  EXPECT_EQ(key.ValueNames().Count(), 0);

  e = Raised([&] { (void)key.value(u"nope"); });
  EXPECT_EQ(e.number(), platform::kRegFileNotFound);
  EXPECT_EQ(e.source(), "RegistryKey.Get Value");
  EXPECT_EQ(e.description(),
            "Unable to get the length of the registy value 'nope'");

  // A write that the store refuses is not taken for one that happened.
  RegistryKey reader;
  reader.OpenKey(HKEY_CURRENT_USER, u"Errors", KEY_READ);
  ASSERT_NE(reader.handle(), 0);
  e = Raised([&] { reader.set_value(u"v", u"x"); });
  EXPECT_EQ(e.number(), platform::kRegAccessDenied);
  EXPECT_EQ(e.source(), "RegistryKey.Let Value");
  EXPECT_EQ(e.description(),
            "An error occurred while setting the registry value 'v'");

  // No key open: the store's "invalid handle" comes back as the number.
  RegistryKey none;
  EXPECT_EQ(Raised([&] { (void)none.value(u"v"); }).number(),
            platform::kRegInvalidHandle);
  EXPECT_EQ(Raised([&] { none.set_value(u"v", 1); }).number(),
            platform::kRegInvalidHandle);
  e = Raised([&] { (void)none.ValueNames(); });
  EXPECT_EQ(e.number(), platform::kRegInvalidHandle);
  EXPECT_EQ(e.source(), "RegistryKey.GetValues");
  EXPECT_EQ(e.description(), "Unable to retrieve value names for registry key");
  EXPECT_EQ(Raised([&] { (void)none.SubKeyNames(); }).source(),
            "RegistryKey.GetValues");
  EXPECT_EQ(Raised([&] { (void)none.SubValueNames(); }).number(),
            platform::kRegInvalidHandle);

  e = Raised([&] { key.DeleteValue(u"ghost"); });
  EXPECT_EQ(e.number(), platform::kRegFileNotFound);
  EXPECT_EQ(e.source(), "RegistryKey.DeleteValue");
  EXPECT_EQ(e.description(), "Unable to delete registry value 'ghost'");
  e = Raised([&] { key.DeleteSubKey(u"ghost"); });
  EXPECT_EQ(e.source(), "RegistryKey.DeleteSubKey");
  EXPECT_EQ(e.description(), "Unable to delete registry subkey 'ghost'");
}

TEST_F(RegistryKeyTest, AccentedNamesAndDataRoundTrip) {
  RegistryKey key;
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"Réglages\\Été"));
  key.set_value(u"Café", u"crème brûlée €");
  EXPECT_EQ(key.value(u"CAFÉ"), u"crème brûlée €");
  EXPECT_EQ(All(key.ValueNames()), std::vector<std::u16string>{u"Café"});
  RegistryKey parent;
  parent.OpenKey(HKEY_CURRENT_USER, u"RÉGLAGES", KEY_READ);
  EXPECT_EQ(All(parent.SubKeyNames()), std::vector<std::u16string>{u"Été"});
  // Error texts carry the name as UTF-8.
  Error e = Raised([&] { key.DeleteValue(u"Noël"); });
  EXPECT_EQ(e.description(), "Unable to delete registry value 'No\xC3\xABl'");
}

TEST_F(RegistryKeyTest, ListingsStartAtOneAndTreatTheUnnamedValueApart) {
  RegistryKey key;
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"Lists"));
  NameList empty = key.ValueNames();
  EXPECT_EQ(empty.Count(), 0);
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(Raised([&] { (void)empty[1]; }).number(), 9);
  EXPECT_EQ(key.SubValueNames().Count(), 0);
  EXPECT_EQ(key.SubKeyNames().Count(), 0);

  key.set_value(u"", u"unnamed");
  key.set_value(u"a", 1);
  key.set_value(u"b", 2);
  NameList names = key.ValueNames();
  ASSERT_EQ(names.Count(), 2);
  EXPECT_EQ(names[1], u"a");
  EXPECT_EQ(names[2], u"b");
  EXPECT_EQ(Raised([&] { (void)names[0]; }).number(), 9);
  EXPECT_EQ(Raised([&] { (void)names[3]; }).number(), 9);
  NameList all = key.SubValueNames();
  ASSERT_EQ(all.Count(), 3);
  EXPECT_EQ(all[1], u"");
  EXPECT_EQ(all[2], u"a");
  EXPECT_EQ(all[3], u"b");

  for (const char16_t* sub : {u"z", u"y", u"x"}) {
    RegistryKey child;
    child.OpenKey(key.handle(), sub, KEY_WRITE);
    ASSERT_NE(child.handle(), 0);
  }
  NameList subs = key.SubKeyNames();
  ASSERT_EQ(subs.Count(), 3);
  EXPECT_EQ(subs[1], u"z");
  EXPECT_EQ(subs[3], u"x");
}

TEST_F(RegistryKeyTest, LongNamesFitTheListingsBuffersOrRaise) {
  RegistryKey key;
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"Long"));
  std::u16string n511(511, u'm');
  key.set_value(n511, 1);
  EXPECT_EQ(key.SubValueNames()[1], n511);
  std::u16string n512(512, u'n');
  key.set_value(n512, 1);
  NameList names = key.ValueNames();
  ASSERT_EQ(names.Count(), 2);
  EXPECT_EQ(names[2], n512);
  Error e = Raised([&] { (void)key.SubValueNames(); });
  EXPECT_EQ(e.number(), platform::kRegMoreData);
  EXPECT_EQ(e.source(), "RegistryKey.GetValues");

  // ValueNames goes up to 4095 bytes; the buffer sizes count UTF-8 bytes.
  RegistryKey wide;
  ASSERT_TRUE(wide.CreateKey(HKEY_CURRENT_USER, u"Wide"));
  std::u16string n4095(4095, u'w');
  wide.set_value(n4095, 1);
  EXPECT_EQ(wide.ValueNames()[1], n4095);
  std::u16string accents(2048, u'é');  // 4096 bytes
  wide.set_value(accents, 1);
  EXPECT_EQ(Raised([&] { (void)wide.ValueNames(); }).number(),
            platform::kRegMoreData);

  // A key name of 200 "€" is 600 bytes: too long for SubKeyNames' 512.
  RegistryKey child;
  child.OpenKey(wide.handle(), std::u16string(200, u'€'), KEY_WRITE);
  ASSERT_NE(child.handle(), 0);
  EXPECT_EQ(Raised([&] { (void)wide.SubKeyNames(); }).number(),
            platform::kRegMoreData);
}

TEST_F(RegistryKeyTest, DeletingKeysSubKeysAndValues) {
  RegistryKey key;
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"Del\\Sub\\Leaf"));
  key.set_value(u"v", u"kept");
  platform::HKEY held = key.handle();

  Error e = Raised([&] { key.DeleteKey(HKEY_CURRENT_USER, u"Del\\Missing"); });
  EXPECT_EQ(e.number(), platform::kRegFileNotFound);
  EXPECT_EQ(e.source(), "RegistryKey.DeleteKey");
  EXPECT_EQ(e.description(), "Unable to delete registry key 'Del\\Missing'");
  EXPECT_EQ(key.handle(), held);
  EXPECT_EQ(key.value(u"v"), u"kept");

  e = Raised([&] { key.DeleteKey(HKEY_CURRENT_USER, u"Del\\Sub"); });
  EXPECT_EQ(e.number(), platform::kRegAccessDenied);  // it has a sub-key

  RegistryKey sub;
  sub.OpenKey(HKEY_CURRENT_USER, u"Del\\Sub", KEY_ALL_ACCESS);
  sub.DeleteSubKey(u"LEAF");
  EXPECT_FALSE(KeyExists("Del\\Sub\\Leaf"));
  // The held key is gone; the store says so.
  EXPECT_EQ(Raised([&] { (void)key.value(u"v"); }).number(),
            platform::kRegKeyDeleted);
  key.CloseKey();
  EXPECT_EQ(key.handle(), 0);

  sub.set_value(u"x", 1);
  sub.DeleteValue(u"X");
  EXPECT_EQ(sub.ValueNames().Count(), 0);
  key.DeleteKey(HKEY_CURRENT_USER, u"Del\\Sub");
  EXPECT_FALSE(KeyExists("Del\\Sub"));
  EXPECT_TRUE(KeyExists("Del"));
}

// Fills a key with `count` values (named v00001...) straight through SQLite:
// tens of thousands of separate durable writes would take minutes.
void AddManyValues(const std::string& hive, const char* key_name, int count,
                   bool keys) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(hive.c_str(), &db), SQLITE_OK);
  std::string sql =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i "
      "< " +
      std::to_string(count) + ") ";
  std::string parent =
      "(SELECT id FROM reg_key WHERE parent = 2 AND fold = CAST('" +
      std::string(key_name) + "' AS BLOB))";
  if (keys) {
    sql += "INSERT INTO reg_key(parent, name, fold) SELECT " + parent +
           ", CAST(printf('k%05d', i) AS BLOB), CAST(printf('K%05d', i) AS "
           "BLOB) FROM n";
  } else {
    sql += "INSERT INTO reg_value(key, name, fold, type, data) SELECT " +
           parent +
           ", CAST(printf('v%05d', i) AS BLOB), CAST(printf('V%05d', i) AS "
           "BLOB), 1, x'00' FROM n";
  }
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message),
            SQLITE_OK)
      << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

TEST_F(RegistryKeyTest, ListingsCountToAtMost32767Names) {
  RegistryKey key;
  ASSERT_TRUE(key.CreateKey(HKEY_CURRENT_USER, u"MANY"));
  key.set_value(u"", u"unnamed");
  AddManyValues(hive_.path(), "MANY", 32767, false);
  // The unnamed value is not counted by ValueNames, so 32767 names fit...
  NameList names = key.ValueNames();
  ASSERT_EQ(names.Count(), 32767);
  EXPECT_EQ(names[1], u"v00001");
  EXPECT_EQ(names[32767], u"v32767");
  // ...while SubValueNames, which lists it, has one name too many.
  Error e = Raised([&] { (void)key.SubValueNames(); });
  EXPECT_EQ(e.number(), platform::kErrOverflow);
  EXPECT_EQ(e.source(), "RegistryKey.SubValueNames");

  key.set_value(u"one more", 1);
  e = Raised([&] { (void)key.ValueNames(); });
  EXPECT_EQ(e.number(), platform::kErrOverflow);
  EXPECT_EQ(e.source(), "RegistryKey.ValueNames");

  AddManyValues(hive_.path(), "MANY", 32768, true);
  EXPECT_EQ(Raised([&] { (void)key.SubKeyNames(); }).number(),
            platform::kErrOverflow);
}

}  // namespace
}  // namespace vg::registry
