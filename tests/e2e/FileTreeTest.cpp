// A real application's tree (3,000 files in 300 folders, 50 names repeated
// across them) packed with three [Files] lines (a folder, a
// pattern with exclusions, a file under another name), built by the command
// as an author would, installed silently and uninstalled: every file lands
// byte for byte with its time, names repeated across folders included, and
// nothing stays behind.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "../win32/Robot.h"
#include "../win32/TestSupport.h"
#include "tests/TestData.h"
#include "TestPaths.h"

namespace {

const char kQuillset[] = QS_BUILD_DIR "\\quillset.exe";

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

uint64_t WriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return 0;
  return ((uint64_t)a.ftLastWriteTime.dwHighDateTime << 32) | a.ftLastWriteTime.dwLowDateTime;
}

void MakeFolders(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), NULL);
}

// Every file below folder, relative to it.
void ListTree(const std::string& folder, const std::string& relative, std::map<std::string, int>* out) {
  WIN32_FIND_DATAA d;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &d);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = d.cFileName;
    if (name == "." || name == "..") continue;
    std::string rel = relative.empty() ? name : relative + "\\" + name;
    if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ListTree(folder + "\\" + name, rel, out);
    else (*out)[rel] = 1;
  } while (FindNextFileA(h, &d));
  FindClose(h);
}

TEST(FileTree, AFolderAPatternAndARenameInstallEveryFileAndUninstallLeavesNothing) {
  TempFolder dir;
  const std::string app = dir.File("project\\app");
  const std::string target = dir.File("Tree App");
  // destination (relative to the installation) -> source
  std::map<std::string, std::string> expected;
  // bin: 3,000 files in 300 folders; 50 names repeat across them (three in
  // every folder, 47 in some six each)
  for (int f = 0; f < 300; ++f) {
    const std::string sub = "bin\\m" + std::to_string(f / 20) + "\\p" + std::to_string(f);
    for (int i = 0; i < 10; ++i) {
      std::string name = i == 0 ? "index.js" : i == 1 ? "__init__.py" : i == 2 ? "LICENSE"
                         : i == 3 ? "shared" + std::to_string(f % 47) + ".dat" : "f" + std::to_string(f * 10 + i) + ".bin";
      const std::string source = app + "\\" + sub + "\\" + name;
      if (i == 0) MakeFolders(source);
      WriteWholeFile(source, RandomBytes(100 + (size_t)(f * 37 + i * 101) % 900, (unsigned)(f * 10 + i)));
      expected[sub + "\\" + name] = source;
    }
  }
  // docs: the pattern keeps *.txt at any depth, but not drafts\ nor *.pdb.txt
  for (const char* rel : {"docs\\en\\readme.txt", "docs\\de\\readme.txt", "docs\\de\\deep\\er\\readme.txt",
                          "docs\\manual.txt", "docs\\drafts\\plan.txt", "docs\\en\\debug.pdb.txt",
                          "docs\\en\\image.png"}) {
    MakeFolders(app + "\\" + rel);
    WriteWholeFile(app + "\\" + rel, std::string("text of ") + rel);
  }
  for (const char* rel : {"docs\\en\\readme.txt", "docs\\de\\readme.txt", "docs\\de\\deep\\er\\readme.txt",
                          "docs\\manual.txt"})
    expected[rel] = app + "\\" + rel;
  WriteWholeFile(app + "\\LICENSE.txt", "the licence");
  expected["licence.txt"] = app + "\\LICENSE.txt";

  const std::string script = dir.File("project\\tree.qsp");
  WriteWholeFile(script, "QSP40\r\n[Global]\r\nApplicationName = Tree App\r\nDefaultDir = " + target +
                             "\r\n[Files]\r\n"
                             "app\\bin, %MAINDIR%bin\\\r\n"
                             "app\\docs\\**\\*.txt | drafts\\ | *.pdb.txt, %MAINDIR%docs\r\n"
                             "app\\LICENSE.txt, %MAINDIR%licence.txt\r\n");
  const std::string setup = dir.File("Tree Setup.exe");
  std::string report = dir.File("build.txt");
  ASSERT_EQ(0u, RunToFile(Quoted(kQuillset) + " build -q --compression " + TestCompression() + " --arch " QS_ARCH
                            " --stub " + Quoted(QS_STUB_PATH) + " -o " + Quoted(setup) + " " + Quoted(script),
                        report, 300000))
      << ReadWholeFile(report);

  // list names every stored file: the distinct sources, the script and the table
  report = dir.File("list.txt");
  ASSERT_EQ(0u, RunToFile(Quoted(kQuillset) + " list " + Quoted(setup), report, 300000));
  const std::string listed = ReadWholeFile(report);
  EXPECT_NE(std::string::npos, listed.find(std::to_string(expected.size() + 2) + " entries")) << listed;
  for (const char* name : {"index~300.js", "__init__~2.py", "shared46~6.dat", "readme~3.txt", "LICENSE.txt "})
    EXPECT_NE(std::string::npos, listed.find(name)) << name << " in\n" << listed;

  ASSERT_FALSE(PathExists(target)) << "left by an earlier run";
  report = dir.File("setup.txt");
  ASSERT_EQ(0u, RunToFile(Quoted(setup) + " /S", report, 300000));
  std::map<std::string, int> installed;
  ListTree(target, "", &installed);
  for (const auto& e : expected) {
    const std::string path = target + "\\" + e.first;
    ASSERT_TRUE(PathExists(path)) << e.first;
    EXPECT_TRUE(ReadWholeFile(path) == ReadWholeFile(e.second)) << e.first;
    EXPECT_EQ(WriteTime(e.second), WriteTime(path)) << e.first;
    installed.erase(e.first);
  }
  for (const char* own : {"Uninstall.exe", "Uninstall.log", "Translations.ini"}) installed.erase(own);
  std::string extra;
  for (const auto& e : installed) extra += e.first + "\n";
  EXPECT_EQ("", extra) << "installed but not asked for (an exclusion missed?)";

  EXPECT_EQ(0u, RunToFile(Quoted(target + "\\Uninstall.exe") + " /S", dir.File("uninstall.txt"), 300000));
  Robot wait;
  EXPECT_TRUE(wait.WaitUntil([&] { return !PathExists(target) && RunningCommandInterpreters() == 0; }, 60000,
                             "the uninstaller's self-removal"));
}

}  // namespace
