#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/RegistryHelpers.h"

namespace {

// Removes a key with everything below it, without the code under test.
void RemoveKey(HKEY parent, const std::string& name) {
  HKEY key;
  if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  char sub[512];
  while (RegEnumKeyA(key, 0, sub, sizeof sub) == ERROR_SUCCESS) RemoveKey(key, sub);
  RegCloseKey(key);
  RegDeleteKeyA(parent, name.c_str());
}

// A key of its own below HKEY_CURRENT_USER\Software for each test, removed
// afterwards. Slashed() is the helpers' spelling, Backslashed() the API's.
class RegistryHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Name = std::string("QuillsetTest-") +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
             std::to_string(GetCurrentProcessId());
    RemoveKey(HKEY_CURRENT_USER, Backslashed(""));
  }
  void TearDown() override { RemoveKey(HKEY_CURRENT_USER, Backslashed("")); }

  std::string Slashed(const std::string& below) const {
    return "Software/" + m_Name + (below.empty() ? "" : "/" + below);
  }
  std::string Backslashed(std::string below) const {
    for (char& c : below)
      if (c == '/') c = '\\';
    return "Software\\" + m_Name + (below.empty() ? "" : "\\" + below);
  }
  bool KeyExists(const std::string& below) const {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, Backslashed(below).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
      return false;
    RegCloseKey(key);
    return true;
  }
  // Creates the key and everything above it with the plain API.
  void MakeKey(const std::string& below) const {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, Backslashed(below).c_str(), 0,
                                             NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    RegCloseKey(key);
  }
  void SetRaw(const std::string& below, const char* name, DWORD type, const void* data,
              DWORD size) const {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, Backslashed(below).c_str(), 0,
                                             NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
  }
  // Type and bytes of a value as the plain API reads them; type 0 when missing.
  std::string Raw(const std::string& below, const char* name, DWORD* type) const {
    *type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, Backslashed(below).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
      return "";
    char data[1024];
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, NULL, type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) {
      *type = 0;
      return "";
    }
    return std::string(data, size);
  }

  std::string m_Name;
};

TEST_F(RegistryHelpers, RootNamesAreTheFourPredefinedKeysSpelledExactly) {
  EXPECT_EQ(HKEY_CLASSES_ROOT, RegistryRootFromName("HKEY_CLASSES_ROOT"));
  EXPECT_EQ(HKEY_CURRENT_USER, RegistryRootFromName("HKEY_CURRENT_USER"));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, RegistryRootFromName("HKEY_LOCAL_MACHINE"));
  EXPECT_EQ(HKEY_CURRENT_CONFIG, RegistryRootFromName("HKEY_CURRENT_CONFIG"));
  for (const char* other : {"HKEY_USERS", "hkey_current_user", "HKEY_CURRENT_USER ", "HKCU", ""})
    EXPECT_EQ(NULL, RegistryRootFromName(other)) << other;
  EXPECT_EQ(NULL, RegistryRootFromName(NULL));
}

TEST_F(RegistryHelpers, CreatingAPathMakesEveryLevelAndOpeningFindsIt) {
  EXPECT_EQ(NULL, OpenRegistryPath(HKEY_CURRENT_USER, Slashed("A/B/C").c_str(), KEY_READ));
  EXPECT_FALSE(KeyExists(""));  // opening creates nothing

  HKEY created = CreateRegistryPath(HKEY_CURRENT_USER, Slashed("A/B/C").c_str(), KEY_ALL_ACCESS);
  ASSERT_NE((HKEY)NULL, created);
  // the handle is the innermost key's
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(created, "v", 0, REG_SZ, (const BYTE*)"x", 2));
  RegCloseKey(created);
  EXPECT_TRUE(KeyExists("A/B/C"));
  DWORD type;
  EXPECT_EQ(std::string("x", 2), Raw("A/B/C", "v", &type));

  // again: the same key is opened, nothing is lost
  created = CreateRegistryPath(HKEY_CURRENT_USER, Slashed("A/B/C").c_str(), KEY_ALL_ACCESS);
  ASSERT_NE((HKEY)NULL, created);
  RegCloseKey(created);
  EXPECT_EQ(std::string("x", 2), Raw("A/B/C", "v", &type));

  HKEY opened = OpenRegistryPath(HKEY_CURRENT_USER, Slashed("A/B/C").c_str(), KEY_READ);
  ASSERT_NE((HKEY)NULL, opened);
  RegCloseKey(opened);
  EXPECT_EQ(NULL, OpenRegistryPath(HKEY_CURRENT_USER, Slashed("A/X/C").c_str(), KEY_READ));

  // relative to a key of the caller's, which stays open
  HKEY base = OpenRegistryPath(HKEY_CURRENT_USER, Slashed("A").c_str(), KEY_ALL_ACCESS);
  ASSERT_NE((HKEY)NULL, base);
  HKEY below = CreateRegistryPath(base, "B/D", KEY_ALL_ACCESS);
  ASSERT_NE((HKEY)NULL, below);
  RegCloseKey(below);
  EXPECT_TRUE(KeyExists("A/B/D"));
  HKEY again;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(base, "B", 0, KEY_READ, &again));
  RegCloseKey(again);
  RegCloseKey(base);

  EXPECT_EQ(NULL, CreateRegistryPath(NULL, "A", KEY_ALL_ACCESS));
  EXPECT_EQ(NULL, OpenRegistryPath(HKEY_CURRENT_USER, NULL, KEY_READ));
}

TEST_F(RegistryHelpers, WritingAStringCreatesThePathAndReturnsItsLength) {
  EXPECT_EQ(11, WriteRegistryString(HKEY_CURRENT_USER, Slashed("One/Two/Three").c_str(), "Name",
                                    "Example App"));
  DWORD type;
  EXPECT_EQ(std::string("Example App", 12), Raw("One/Two/Three", "Name", &type));
  EXPECT_EQ((DWORD)REG_SZ, type);

  // the default value, overwritten in an existing key
  EXPECT_EQ(3, WriteRegistryString(HKEY_CURRENT_USER, Slashed("One").c_str(), "", "\"a\""));
  EXPECT_EQ(std::string("\"a\"", 4), Raw("One", "", &type));
  EXPECT_EQ(4, WriteRegistryString(HKEY_CURRENT_USER, Slashed("One").c_str(), "", "next"));
  EXPECT_EQ(std::string("next", 5), Raw("One", "", &type));

  // an empty text is written, but reports 0
  EXPECT_EQ(0, WriteRegistryString(HKEY_CURRENT_USER, Slashed("One").c_str(), "Empty", ""));
  EXPECT_EQ(std::string("", 1), Raw("One", "Empty", &type));
  EXPECT_EQ((DWORD)REG_SZ, type);

  EXPECT_EQ(0, WriteRegistryString(HKEY_CURRENT_USER, Slashed("One").c_str(), "Null", NULL));
}

TEST_F(RegistryHelpers, WritingADwordNeverCreatesAKey) {
  EXPECT_EQ(0, WriteRegistryDword(HKEY_CURRENT_USER, Slashed("Missing/Key").c_str(), "n", 5));
  EXPECT_FALSE(KeyExists(""));

  MakeKey("Existing/Key");
  EXPECT_EQ(1, WriteRegistryDword(HKEY_CURRENT_USER, Slashed("Existing/Key").c_str(), "n",
                                  0xFFFFFFFEu));
  DWORD type;
  std::string data = Raw("Existing/Key", "n", &type);
  EXPECT_EQ((DWORD)REG_DWORD, type);
  ASSERT_EQ(4u, data.size());
  DWORD number;
  memcpy(&number, data.data(), 4);
  EXPECT_EQ(0xFFFFFFFEu, number);
  EXPECT_EQ(0, WriteRegistryDword(HKEY_CURRENT_USER, Slashed("Existing/Key/Deeper").c_str(), "n",
                                  1));
  EXPECT_FALSE(KeyExists("Existing/Key/Deeper"));
}

TEST_F(RegistryHelpers, ReadingFallsBackToTheDefaultZeroPadded) {
  char buffer[16];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(3, ReadRegistryString(HKEY_CURRENT_USER, Slashed("No/Such").c_str(), "v", "def",
                                  buffer, sizeof buffer));
  EXPECT_EQ(std::string("def\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), std::string(buffer, 16));

  MakeKey("Key");
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(3, ReadRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "missing", "def",
                                  buffer, sizeof buffer));
  EXPECT_EQ(std::string("def\0\0\0\0\0\0\0\0\0\0\0\0\0", 16), std::string(buffer, 16));

  // a default longer than the buffer is cut, still terminated
  EXPECT_EQ(7, ReadRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "missing",
                                  "0123456789", buffer, 8));
  EXPECT_STREQ("0123456", buffer);
  EXPECT_EQ(0, ReadRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "missing", NULL,
                                  buffer, sizeof buffer));
  EXPECT_STREQ("", buffer);

  // no room at all: nothing is touched
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(0, ReadRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "missing", "def",
                                  buffer, 0));
  EXPECT_EQ('x', buffer[0]);
}

TEST_F(RegistryHelpers, ReadingAStoredValueAlwaysLeavesAString) {
  ASSERT_EQ(16, WriteRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "path",
                                    "C:\\Program Files"));
  char buffer[32];
  EXPECT_EQ(16, ReadRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "path", "def",
                                   buffer, sizeof buffer));
  EXPECT_STREQ("C:\\Program Files", buffer);

  // longer than the buffer: the query fails, so the default
  EXPECT_EQ(3, ReadRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "path", "def",
                                  buffer, 8));
  EXPECT_STREQ("def", buffer);

  // stored without a terminator, shorter than the buffer and exactly as long
  SetRaw("Key", "bare", REG_SZ, "abcdefgh", 8);
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(8, ReadRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "bare", "def",
                                  buffer, sizeof buffer));
  EXPECT_STREQ("abcdefgh", buffer);
  SetRaw("Key", "binary", REG_BINARY, "abcdefgh", 8);
  memset(buffer, 'x', sizeof buffer);
  int length = ReadRegistryString(HKEY_CURRENT_USER, Slashed("Key").c_str(), "binary", "def",
                                  buffer, 8);
  EXPECT_EQ(7, length);
  EXPECT_STREQ("abcdefg", buffer);
}

TEST_F(RegistryHelpers, DeletingATreeRemovesEveryLevelBelowIt) {
  for (const char* key : {"Tree/A/A1/A11", "Tree/A/A2", "Tree/B/B1/B11/B111", "Tree/B/B2",
                          "Tree/C", "Keep"}) {
    MakeKey(key);
  }
  // a key name may hold a "/" of its own
  HKEY a;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, Backslashed("Tree/A").c_str(), 0,
                                         KEY_ALL_ACCESS, &a));
  HKEY mime;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(a, "text/plain", 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                           &mime, NULL));
  HKEY inner;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(mime, "inner", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &inner, NULL));
  RegCloseKey(inner);
  RegCloseKey(mime);
  RegCloseKey(a);
  ASSERT_EQ(4, WriteRegistryString(HKEY_CURRENT_USER, Slashed("Tree/B/B1").c_str(), "v", "data"));

  EXPECT_EQ(1, DeleteRegistryTree(HKEY_CURRENT_USER, Slashed("Tree").c_str()));
  EXPECT_FALSE(KeyExists("Tree"));
  EXPECT_TRUE(KeyExists("Keep"));
  EXPECT_EQ(0, DeleteRegistryTree(HKEY_CURRENT_USER, Slashed("Tree").c_str()));
  EXPECT_EQ(0, DeleteRegistryTree(HKEY_CURRENT_USER, Slashed("No/Parent").c_str()));

  // without a "/" the key sits directly below the given one
  MakeKey("Keep/Direct/Sub");
  HKEY keep;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, Backslashed("Keep").c_str(), 0,
                                         KEY_ALL_ACCESS, &keep));
  EXPECT_EQ(1, DeleteRegistryTree(keep, "Direct"));
  RegCloseKey(keep);
  EXPECT_FALSE(KeyExists("Keep/Direct"));
  EXPECT_TRUE(KeyExists("Keep"));
}

TEST_F(RegistryHelpers, AnEmptyKeyNameDeletesNothing) {
  MakeKey("Parent/Child");
  EXPECT_EQ(0, DeleteRegistryTree(HKEY_CURRENT_USER, Slashed("Parent/").c_str()));
  EXPECT_TRUE(KeyExists("Parent/Child"));
  HKEY parent;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, Backslashed("Parent").c_str(), 0,
                                         KEY_ALL_ACCESS, &parent));
  EXPECT_EQ(0, DeleteRegistryTree(parent, ""));
  RegCloseKey(parent);
  EXPECT_TRUE(KeyExists("Parent/Child"));
}

}  // namespace
