// The setup program of this tree as Windows loads its resources. Its headers,
// imports and manifest architecture are checked natively for both trees.
#include <gtest/gtest.h>
#include <windows.h>

#include "TestPaths.h"
#include "TestSupport.h"

namespace {

TEST(StubResources, CarriesManifestStringsAndIcons) {
  HMODULE m = LoadLibraryExA(QS_STUB_PATH, NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(m != NULL);
  HRSRC r = FindResourceA(m, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  ASSERT_TRUE(r != NULL);
  std::string manifest((const char*)LockResource(LoadResource(m, r)), SizeofResource(m, r));
  EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
  EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
  EXPECT_NE(std::string::npos, manifest.find(">true</dpiAware>"));
  EXPECT_NE(std::string::npos, manifest.find("supportedOS"));

  char text[100];
  ASSERT_GT(LoadStringA(m, 103, text, sizeof text), 0);
  EXPECT_STREQ("Quillset", text);
  ASSERT_GT(LoadStringA(m, 109, text, sizeof text), 0);
  EXPECT_STREQ("QUILLSETDEPLOYER", text);
  ASSERT_GT(LoadStringA(m, 111, text, sizeof text), 0);
  EXPECT_STREQ("Please insert disk %d.", text);
  EXPECT_TRUE(FindResourceA(m, MAKEINTRESOURCEA(107), MAKEINTRESOURCEA(14)) != NULL);  // RT_GROUP_ICON
  EXPECT_TRUE(FindResourceA(m, MAKEINTRESOURCEA(108), MAKEINTRESOURCEA(14)) != NULL);
  FreeLibrary(m);
}

}  // namespace
