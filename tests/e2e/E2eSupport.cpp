#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>

#include "../win32/TestSupport.h"
#include "EnglishText.h"
#include "efs/EFSBuilder.h"
#include "efs/EfsFormat.h"
#include "resources/resource.h"

namespace {

const DWORD kPageTimeout = 20000;
// The installation and the uninstallation run while both lanes are busy.
const DWORD kWorkTimeout = 60000;

}  // namespace

std::string BuildSetupFile(const TempFolder& dir, const std::string& script,
                           const std::vector<std::pair<std::string, std::string>>& files, const char* name) {
  const std::string src = dir.File("src");
  CreateDirectoryA(src.c_str(), NULL);
  CEFSBuilder b;
  b.SetStubFile(QS_STUB_PATH);
  WriteWholeFile(src + "\\default.qsp", script);
  b.AddFile((src + "\\default.qsp").c_str(), 1);
  b.AddFile(kEnglish, 1, "Translations.ini");
  for (auto& f : files) {
    WriteWholeFile(src + "\\" + f.first, f.second);
    b.AddFile((src + "\\" + f.first).c_str(), 1);
  }
  const std::string setup = dir.File(name);
  b.Build(setup.c_str(), nullptr, InstallerSignature);
  return setup;
}

HWND StartSetup(Robot& robot, const std::string& setup, DWORD timeout) {
  if (!robot.Start("\"" + setup + "\"")) return NULL;
  return robot.WaitForWindow("#32770", En("WELCOME").c_str(), timeout);
}

void WalkToFinishPage(Robot& robot, HWND* w, int enabled, const std::function<void(HWND)>& atDestination) {
  for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
    ASSERT_TRUE(Robot::Press(*w, IDC_NEXT)) << page;
    *w = robot.WaitForWindow("#32770", En(page).c_str(), kPageTimeout);
    ASSERT_TRUE(*w) << page;
    if (atDestination && strcmp(page, "CHOOSE_DESITNATION_LOCATION") == 0) atDestination(*w);
  }
  const HWND page = *w;
  ASSERT_TRUE(robot.WaitUntil(
      [&] { return Robot::ItemText(page, IDC_NEXT) == En("FINISH") && IsWindowEnabled(GetDlgItem(page, enabled)); },
      kWorkTimeout, "the finish page"));
}

void InstallWithDefaults(Robot& robot, HWND welcome, const std::function<void(HWND)>& atDestination) {
  HWND w = welcome;
  ASSERT_NO_FATAL_FAILURE(WalkToFinishPage(robot, &w, IDC_NEXT, atDestination));
  Robot::Settle(w);
  ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
  DWORD code = 1;
  ASSERT_TRUE(robot.WaitForExit(kPageTimeout, &code));
  EXPECT_EQ(0u, code);
}

void UninstallWithYes(Robot& un, const std::string& uninstaller, const std::string& cwd, const char* waitingFor) {
  ASSERT_TRUE(un.Start("\"" + uninstaller + "\"", cwd.c_str()));
  // the question names the program, whatever the caller called it
  const std::string question = un.AnswerMessageBox(En("UNINSTALL_TITLE").c_str(), IDYES, kPageTimeout);
  const std::string english = En("YOU_ARE_ABOUT_TO_UNINSTALL");
  const size_t name = english.find("%APPNAME%");
  ASSERT_NE(std::string::npos, name);
  EXPECT_TRUE(question.size() > english.size() - 9 && question.compare(0, name, english, 0, name) == 0 &&
              question.compare(question.size() - (english.size() - name - 9), std::string::npos, english,
                               name + 9, std::string::npos) == 0)
      << question;
  HWND result = NULL;
  ASSERT_TRUE(un.WaitUntil(
      [&] {
        result = un.FindWindowNow("#32770", En("UNINSTALL_TITLE").c_str());
        return result && IsWindowVisible(GetDlgItem(result, IDOK));
      },
      kWorkTimeout, waitingFor));
  Robot::Settle(result);
  EXPECT_EQ(En("UNINSTALLATION_IS_NOW_FINISHED"), Robot::ItemText(result, IDC_UNINSTALL_TEXT));
  ASSERT_TRUE(Robot::Press(result, IDOK));
  DWORD code = 1;
  ASSERT_TRUE(un.WaitForExit(kPageTimeout, &code));
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> all;
  WIN32_FIND_DATAA f;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &f);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (strcmp(f.cFileName, ".") != 0 && strcmp(f.cFileName, "..") != 0) all.push_back(f.cFileName);
    } while (FindNextFileA(h, &f));
    FindClose(h);
  }
  std::sort(all.begin(), all.end());
  return all;
}

std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> all = FilesIn(folder);
  std::sort(all.begin(), all.end());
  return all;
}
