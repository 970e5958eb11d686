// How the setup program loads DLLs: system ones by full path only, the
// script's ones with their own folder for their dependencies.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "TestPaths.h"
#include "TestSupport.h"
#include "platform/SystemLibrary.h"

namespace {

std::string ModulePath(HMODULE m) {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(m, path, MAX_PATH);
  return path;
}

std::string Lower(std::string s) {
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

TEST(SystemLibrary, SystemDllsComeFromTheSystemFolderOnlyAndScriptDllsByTheirPath) {
  char system[MAX_PATH];
  ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
  HMODULE winmm = LoadSystemLibrary("winmm.dll");
  ASSERT_TRUE(winmm != NULL);
  EXPECT_EQ(Lower(std::string(system) + "\\winmm.dll"), Lower(ModulePath(winmm)));
  FreeLibrary(winmm);

  // A DLL that lies in the current folder: a bare name finds it along the
  // default search, which is what a planted DLL relies on; by system path it
  // is not there.
  TempFolder dir;
  const std::string planted = dir.File("qs-only-here.dll");
  WriteWholeFile(planted, ReadWholeFile(QS_BUILD_DIR "\\tests\\win32\\qs-noreg.dll"));
  char before[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, before);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
  HMODULE bare = LoadLibraryA("qs-only-here.dll");
  HMODULE ours = LoadSystemLibrary("qs-only-here.dll");
  SetCurrentDirectoryA(before);
  EXPECT_TRUE(bare != NULL) << "the default search should reach the current folder";
  EXPECT_TRUE(ours == NULL);
  if (bare) FreeLibrary(bare);
  if (ours) FreeLibrary(ours);
  EXPECT_TRUE(LoadSystemLibrary("qs-no-such-library.dll") == NULL);

  HMODULE com = LoadLibraryWithItsFolder(QS_BUILD_DIR "\\tests\\win32\\qs-comdll.dll");
  ASSERT_TRUE(com != NULL);
  EXPECT_TRUE(GetProcAddress(com, "DllRegisterServer") != NULL);
  FreeLibrary(com);
  EXPECT_TRUE(LoadLibraryWithItsFolder(dir.File("missing.dll").c_str()) == NULL);
}

}  // namespace
