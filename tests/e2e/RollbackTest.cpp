// Rollbacks as a user meets them: over an existing installation, after a
// failure, a cancel, a closed window or a failed Finish, the machine must
// be as it was, and each rollback runs once with questions that wait for
// their answer.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../win32/TestSupport.h"
#include "E2eSupport.h"
#include "EnglishText.h"
#include "../win32/Robot.h"
#include "TestPaths.h"
#include "efs/EfsFormat.h"
#include "efs/ExeFileSystem.h"
#include "resources/resource.h"

namespace {

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, from.size(), to);
  return s;
}

// Every path below root with its content and its creation and last-write
// times; folders end in a backslash and map to "".
void State(const std::string& root, std::map<std::string, std::string>* out) {
  WalkTree(root, [out](const std::string& path, const WIN32_FIND_DATAA& f) {
    if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      (*out)[path + "\\"] = "";
    else
      (*out)[path] = FileTimeText(f.ftCreationTime) + " " + FileTimeText(f.ftLastWriteTime) + " " + ReadWholeFile(path);
  });
}

std::map<std::string, std::string> State(const std::string& root) {
  std::map<std::string, std::string> s;
  State(root, &s);
  return s;
}

// The paths only, so that a failure prints readably.
std::vector<std::string> Paths(const std::map<std::string, std::string>& state) {
  std::vector<std::string> paths;
  for (auto& p : state) paths.push_back(p.first);
  return paths;
}

// The run's files in the temporary folder; compared with what was there
// before, as a program another test ended by force leaves its own.
std::vector<std::string> TempFiles() {
  std::vector<std::string> all;
  for (const char* p : {"QSP*.tmp", "TRA*.tmp", "UNI*.tmp", "RBJ*.tmp"}) {
    std::vector<std::string> some = TempFilesMatching(p);
    all.insert(all.end(), some.begin(), some.end());
  }
  std::sort(all.begin(), all.end());
  return all;
}

class Rollback : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string target;
  Robot robot;
  std::vector<std::string> tempBefore;

  void SetUp() override {
    target = dir.File("App");
    tempBefore = TempFiles();
  }

  // A setup file `name` holding the script and the entries (a stored one
  // fails its CRC check on a flipped byte); the entries' times come from
  // `timeHigh`, so two builds give files of other times.
  std::string Build(const std::string& name, const std::string& script, std::vector<SetupSource> entries,
                    DWORD timeHigh) {
    SetupOptions options;
    options.Method = TestMethod();
    options.Folder = "src-" + name;
    options.Name = name + ".exe";
    const std::string src = dir.File(options.Folder.c_str());
    CreateDirectoryA(src.c_str(), NULL);
    for (SetupSource& e : entries) {
      e.From = src + "\\" + e.Name;
      WriteWholeFile(e.From, e.Content);
      SetWriteTime(e.From, timeHigh);
    }
    return BuildSetupFile(dir, script, entries, options);
  }

  // Flips one stored byte of an entry: its CRC check fails.
  void Corrupt(const std::string& setup, const char* entry) {
    std::string bytes = ReadWholeFile(setup);
    bytes[StoredByteOf(bytes, entry, 3)] ^= 0x5A;
    WriteWholeFile(setup, bytes);
  }

  std::string Script(const std::string& rest) {
    return "QSP40\r\n[Global]\r\nApplicationName = Example App\r\nDefaultDir = " + target +
           "\r\nShowEULAPage = FALSE\r\n" + rest;
  }

  // Starts the setup and walks it to the installing page.
  HWND StartInstalling(const std::string& setup) {
    if (!robot.Start("\"" + setup + "\"")) {
      ADD_FAILURE() << "cannot start " << setup;
      return NULL;
    }
    HWND w = robot.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
    for (const char* page : {"CHOOSE_DESITNATION_LOCATION", "START_INSTALLATION", "INSTALLING"}) {
      if (!w) return NULL;
      EXPECT_TRUE(Robot::Press(w, IDC_NEXT)) << robot.WindowTree();
      w = robot.WaitForWindow("#32770", En(page).c_str(), 20000);
    }
    return w;
  }

  bool WaitForFinish(HWND w) {
    if (!robot.WaitUntil([&] {
          return Robot::ItemText(w, IDC_NEXT) == En("FINISH") && IsWindowEnabled(GetDlgItem(w, IDC_NEXT)) &&
                 IsWindowEnabled(GetDlgItem(w, IDC_CANCEL_INSTALL));
        }, 60000, "the finish page"))
      return false;
    Robot::Settle(w);
    return true;
  }

  // Finish, and the program ends with 0.
  void Finish(HWND w) {
    ASSERT_TRUE(WaitForFinish(w));
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    DWORD code = 99;
    ASSERT_TRUE(robot.WaitForExit(30000, &code));
    EXPECT_EQ(0u, code);
  }

  // Answers every box the program shows until it ends; the boxes in order.
  std::vector<RobotMessageBox> AnswerUntilExit(const std::function<int(const RobotMessageBox&)>& answer,
                                               DWORD* code) {
    std::vector<RobotMessageBox> boxes;
    const DWORD start = GetTickCount();
    while (robot.Running() && GetTickCount() - start < 60000) {
      // the wizard is a #32770 too; only boxes have the text static
      HWND found = NULL;
      for (HWND w : robot.TopLevelWindows(true))
        if (Robot::Class(w) == "#32770" && GetDlgItem(w, 0xFFFF)) found = w;
      if (found) {
        RobotMessageBox box = robot.WaitForMessageBox(Robot::Text(found).c_str(), 5000);
        if (box.Window) {
          boxes.push_back(box);
          robot.Answer(box, answer(box));
          continue;
        }
      }
      Sleep(25);
    }
    robot.WaitForExit(5000, code);
    return boxes;
  }

  // A second start is not held back by the first run's mutex: its wizard
  // shows, and a Cancel before anything was installed ends it.
  void StartsAgain(const std::string& setup) {
    Robot again;
    ASSERT_TRUE(again.Start("\"" + setup + "\""));
    HWND w = again.WaitForWindow("#32770", En("WELCOME").c_str(), 20000);
    ASSERT_TRUE(w);
    ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
    again.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000);
    DWORD code = 99;
    ASSERT_TRUE(again.WaitForExit(20000, &code));
    EXPECT_EQ(2u, code);  // cancelled
  }
};

const char kKey[] = "Software\\QuillsetTest-Rollback";

// Over an installation, every way a second run can end early puts the files
// it replaced back as they were and leaves nothing of itself.
TEST_F(Rollback, ReplacedFilesComeBackByteForByteWithTheirTimes) {
  const std::string first = Build(
      "first",
      Script("[Files]\r\na.txt, %MAINDIR%a.txt\r\nb.bin, %MAINDIR%data\\b.bin\r\n"
             "c.dat, %MAINDIR%data\\c.dat\r\nkeep.txt, %MAINDIR%keep.txt\r\n"),
      {{"a.txt", "first a"}, {"b.bin", RandomBytes(70000, 1)}, {"c.dat", "first c"}, {"keep.txt", "kept"}},
      0x01c00000);
  HWND w = StartInstalling(first);
  ASSERT_TRUE(w);
  Finish(w);
  // the user's own edit of an installed file must come back too
  WriteWholeFile(target + "\\a.txt", "a, as the user edited it");
  SetWriteTime(target + "\\a.txt", 0x01c50000);
  const std::map<std::string, std::string> before = State(target);
  ASSERT_EQ(1u, before.count(target + "\\Uninstall.exe"));

  const std::string replaces =
      "[Files]\r\na.txt, %MAINDIR%a.txt\r\nb.bin, %MAINDIR%data\\b.bin\r\nnew.txt, %MAINDIR%new\\new.txt\r\n"
      "c.dat, %MAINDIR%data\\c.dat\r\nafter.bin, %MAINDIR%after.bin\r\n"
      "[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Rollback\r\n"
      "[SysRegString]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Rollback/Name=x\r\n";
  struct Case {
    const char* what;
    const char* failingLine;  // a section appended to the script
    bool big;                 // c.dat and after.bin large enough to cancel during them
    const char* missing;      // an entry left out of the container
    const char* corrupt;      // an entry whose CRC check fails
    bool heldLog;             // another program holds the old Uninstall.log: Finish fails
  } cases[] = {
      {"a failing registry line", "[SysRegInt]\r\nHKEY_USERS/Software/QuillsetTest-Rollback/V=1\r\n", false, "", "",
       false},
      {"a cancel during a replaced file", "", true, "", "", false},
      {"a missing entry in place of a replaced file", "", false, "b.bin", "", false},
      {"a corrupt entry in place of a replaced file", "", false, "", "b.bin", false},
      {"a failed Finish", "", false, "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<SetupSource> entries = {{"a.txt", "second a"},
                                  {"b.bin", RandomBytes(90000, 2), true},
                                  {"new.txt", "new"},
                                  {"c.dat", c.big ? RandomBytes(16 << 20, 3) : "second c"},
                                  {"after.bin", c.big ? RandomBytes(16 << 20, 4) : "after"}};
    for (auto it = entries.begin(); it != entries.end(); ++it)
      if (it->Name == c.missing) {
        entries.erase(it);
        break;
      }
    const std::string second = Build("second", Script(replaces + c.failingLine), entries, 0x01c80000);
    if (*c.corrupt) Corrupt(second, c.corrupt);

    // The old uninstaller and its table are replaced before Finish fails on
    // the log; they must come back too.
    HANDLE held = c.heldLog ? CreateFileA((target + "\\Uninstall.log").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                          OPEN_EXISTING, 0, NULL)
                            : INVALID_HANDLE_VALUE;
    w = StartInstalling(second);
    ASSERT_TRUE(w);
    if (c.heldLog) {
      ASSERT_NE(INVALID_HANDLE_VALUE, held);
      ASSERT_TRUE(WaitForFinish(w));
      ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
      EXPECT_EQ(En("FAILED_TO_CREATE_UNINSTALL_EXE"), robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000));
    } else if (c.big) {
      // at once: the file line shows a name only now and then, and 32 MiB
      // may be copied between two looks; the rollback must undo whatever was
      // replaced by the time the worker sees the Cancel
      ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
      EXPECT_EQ(En("DO_YOU_REALY_WANT_TO_QUIT"), robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000));
    } else if (*c.failingLine) {
      EXPECT_NE(std::string::npos, robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000).find("unrecognized key"));
    } else if (*c.missing) {
      EXPECT_EQ("The embedded file b.bin could not be found.\nInstallation will be aborted.",
                robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000));
    } else {
      EXPECT_EQ(En("INSTALLATION_FILE_IS_CORRUPT"), robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 20000));
    }
    DWORD code = 99;
    ASSERT_TRUE(robot.WaitForExit(30000, &code));
    // cancelled; a damaged file; or failed and rolled back, at Finish or before
    EXPECT_EQ(c.big ? 2u : *c.corrupt ? 3u : 1u, code);
    const std::map<std::string, std::string> after = State(target);
    EXPECT_EQ(Paths(before), Paths(after));
    EXPECT_TRUE(before == after) << "content or times differ";
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    EXPECT_FALSE(KeyExists(kKey));
    EXPECT_EQ(tempBefore, TempFiles());
  }
}

// A second installation that succeeds keeps none of the originals it
// replaced, in the folders or in the temporary folder.
TEST_F(Rollback, ASuccessfulRunOverAnInstallationKeepsNoCopies) {
  const std::string files = "[Files]\r\na.txt, %MAINDIR%a.txt\r\nb.bin, %MAINDIR%data\\b.bin\r\nc.dat, %MAINDIR%c.dat\r\n";
  HWND w = StartInstalling(Build("first", Script(files), {{"a.txt", "1a"}, {"b.bin", "1b"}, {"c.dat", "1c"}}, 0x01c00000));
  ASSERT_TRUE(w);
  Finish(w);
  const std::map<std::string, std::string> before = State(target);

  w = StartInstalling(Build("second", Script(files), {{"a.txt", "2a"}, {"b.bin", "2b"}, {"c.dat", "2c"}}, 0x01c80000));
  ASSERT_TRUE(w);
  Finish(w);
  const std::map<std::string, std::string> after = State(target);
  EXPECT_EQ(Paths(before), Paths(after));
  EXPECT_EQ("2a", ReadWholeFile(target + "\\a.txt"));
  EXPECT_EQ("2b", ReadWholeFile(target + "\\data\\b.bin"));
  EXPECT_EQ("2c", ReadWholeFile(target + "\\c.dat"));
  EXPECT_EQ(tempBefore, TempFiles());
}

// Closing the background window or the wizard while the files are copied
// changes nothing; a wizard ended from outside (a quit message) stops the
// worker and rolls back. Either way the process ends by itself and the next
// start is not held back. The worker holds still in the middle of the files
// while the cancel question is open, so that is when the messages come.
TEST_F(Rollback, AClosedWindowNeitherKillsTheRunNorSkipsTheRollback) {
  const std::string setup =
      Build("setup",
            Script("[Background]\r\nUseBackground = TRUE\r\n[Files]\r\none.txt, %MAINDIR%one.txt\r\n"
                   "big0.bin, %MAINDIR%big\\big0.bin\r\nbig1.bin, %MAINDIR%big\\big1.bin\r\n"
                   "big2.bin, %MAINDIR%big\\big2.bin\r\nbig3.bin, %MAINDIR%big\\big3.bin\r\n"
                   "[SysRegUninstall]\r\nHKEY_CURRENT_USER/Software/QuillsetTest-Rollback\r\n"),
            {{"one.txt", "one"},
             {"big0.bin", RandomBytes(12 << 20, 5)},
             {"big1.bin", RandomBytes(12 << 20, 6)},
             {"big2.bin", RandomBytes(12 << 20, 7)},
             {"big3.bin", RandomBytes(12 << 20, 8)}},
            0x01c00000);
  for (bool quit : {false, true}) {
    SCOPED_TRACE(quit ? "a quit message" : "close messages");
    HWND w = StartInstalling(setup);
    ASSERT_TRUE(w);
    HWND background = robot.FindWindowNow("QUILLSETDEPLOYER", NULL);
    ASSERT_TRUE(background) << robot.WindowTree();
    ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
    RobotMessageBox question = robot.WaitForMessageBox(En("INSTALL_TITLE").c_str(), 10000);
    ASSERT_TRUE(question.Window);
    if (!quit) {
      for (HWND window : {background, w}) {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        PostMessageA(window, WM_CLOSE, 0, 0);
        Robot::Settle(window);
      }
      // No, and Cancel again queued behind it: the worker, going on, cannot
      // copy the rest of the files before the wizard takes the second click
      ASSERT_TRUE(Robot::Press(question.Window, IDNO));
      ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
      HWND first = question.Window;
      ASSERT_TRUE(robot.WaitUntil([first] { return !IsWindow(first) || !IsWindowVisible(first); }, 10000,
                                  "the answered question to close"));
      // the run goes on, and the user can still cancel it
      RobotMessageBox again = robot.WaitForMessageBox(En("INSTALL_TITLE").c_str(), 10000);
      ASSERT_TRUE(again.Window);
      EXPECT_TRUE(IsWindow(background) && IsWindowVisible(background));
      EXPECT_TRUE(IsWindow(w) && IsWindowVisible(w));
      EXPECT_TRUE(robot.Running());
      robot.Answer(again, IDYES);
    } else {
      PostThreadMessageA(GetWindowThreadProcessId(w, NULL), WM_QUIT, 0, 0);
      EXPECT_EQ(En("UNSPECIFIED_ERROR_OCCURED"), robot.AnswerMessageBox(En("ERROR").c_str(), IDOK, 30000));
    }
    DWORD code = 99;
    ASSERT_TRUE(robot.WaitForExit(30000, &code));
    EXPECT_EQ(quit ? 1u : 2u, code) << "a quit from outside fails; Cancel is a cancel";
    EXPECT_FALSE(PathExists(target));
    EXPECT_FALSE(KeyExists(kKey));
    EXPECT_EQ(tempBefore, TempFiles());
    StartsAgain(setup);
  }
}

// A Finish that cannot write the uninstaller rolls back with questions the
// user answers: a file added to a folder of the installation is asked about
// once, and the answer holds.
TEST_F(Rollback, AFailedFinishAsksAboutTheUsersFileAndKeepsTheAnswer) {
  for (int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDNO ? "No" : "Yes");
    const std::string setup = Build("setup", Script("[Files]\r\none.txt, %MAINDIR%sub\\one.txt\r\n"), {{"one.txt", "1"}},
                                    0x01c00000);
    // a folder where Uninstall.exe goes: it cannot be written
    CreateDirectoryA(target.c_str(), NULL);
    CreateDirectoryA((target + "\\Uninstall.exe").c_str(), NULL);
    HWND w = StartInstalling(setup);
    ASSERT_TRUE(w);
    ASSERT_TRUE(WaitForFinish(w));
    WriteWholeFile(target + "\\sub\\mine.txt", "mine");
    ASSERT_TRUE(Robot::Press(w, IDC_NEXT));
    DWORD code = 99;
    std::vector<RobotMessageBox> boxes = AnswerUntilExit([&](const RobotMessageBox& b) {
      return b.Caption == En("DELETING_INSTALLED_FILES_AND_FOLDERS") ? answer : IDOK;
    }, &code);
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(En("FAILED_TO_CREATE_UNINSTALL_EXE"), boxes[0].Text);
    EXPECT_EQ(Replace(En("FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS"), "%s", target + "\\sub"), boxes[1].Text);
    std::map<std::string, std::string> left = State(target);
    std::vector<std::string> expected = {target + "\\Uninstall.exe\\"};
    if (answer == IDNO) expected = {target + "\\Uninstall.exe\\", target + "\\sub\\", target + "\\sub\\mine.txt"};
    EXPECT_EQ(expected, Paths(left));
    if (answer == IDNO) {
      EXPECT_EQ("mine", ReadWholeFile(target + "\\sub\\mine.txt"));
    }
    DeleteFileA((target + "\\sub\\mine.txt").c_str());
    RemoveDirectoryA((target + "\\sub").c_str());
    RemoveDirectoryA((target + "\\Uninstall.exe").c_str());
    RemoveDirectoryA(target.c_str());
  }
}

// While a rollback asks its question, the wizard's Cancel and Finish start
// nothing: one question, no second rollback, no uninstaller.
TEST_F(Rollback, ClicksDuringARollbackStartNothing) {
  for (bool finishPage : {false, true}) {
    SCOPED_TRACE(finishPage ? "cancel on the finish page" : "a failed file");
    const std::string extra = finishPage ? "" : "gone.txt, %MAINDIR%gone.txt\r\n";
    const std::string setup =
        Build("setup", Script("[Files]\r\none.txt, %MAINDIR%sub\\one.txt\r\n" + extra), {{"one.txt", "1"}}, 0x01c00000);
    // the folder is the user's; the installation makes only sub
    CreateDirectoryA(target.c_str(), NULL);
    HWND w = StartInstalling(setup);
    ASSERT_TRUE(w);
    if (finishPage) {
      ASSERT_TRUE(WaitForFinish(w));
      WriteWholeFile(target + "\\sub\\mine.txt", "mine");
      ASSERT_TRUE(Robot::Press(w, IDC_CANCEL_INSTALL));
      robot.AnswerMessageBox(En("INSTALL_TITLE").c_str(), IDYES, 10000);
    } else {
      // while the worker's message is open the file is in place
      RobotMessageBox error = robot.WaitForMessageBox(En("ERROR").c_str(), 20000);
      ASSERT_TRUE(error.Window);
      WriteWholeFile(target + "\\sub\\mine.txt", "mine");
      robot.Answer(error, IDOK);
    }
    const HWND finish = GetDlgItem(w, IDC_NEXT), cancel = GetDlgItem(w, IDC_CANCEL_INSTALL);
    RobotMessageBox question = robot.WaitForMessageBox(En("DELETING_INSTALLED_FILES_AND_FOLDERS").c_str(), 30000);
    ASSERT_TRUE(question.Window);
    for (HWND button : {finish, cancel}) {
      DWORD_PTR ignored;
      // what a click would do is done, or waits in a box of its own
      SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    }
    int questions = 1, quitQuestions = 0;
    robot.Answer(question, IDNO);
    DWORD code = 99;
    for (const RobotMessageBox& b : AnswerUntilExit([](const RobotMessageBox& b) {
           return GetDlgItem(b.Window, IDYES) ? IDYES : IDOK;
         }, &code)) {
      if (b.Caption == En("DELETING_INSTALLED_FILES_AND_FOLDERS")) ++questions;
      if (b.Caption == En("INSTALL_TITLE")) ++quitQuestions;
    }
    EXPECT_EQ(1, questions);
    EXPECT_EQ(0, quitQuestions);
    EXPECT_EQ(finishPage ? 2u : 1u, code);  // a cancel, or the failure of a file
    EXPECT_EQ((std::vector<std::string>{target + "\\sub\\", target + "\\sub\\mine.txt"}), Paths(State(target)));
    EXPECT_EQ("mine", ReadWholeFile(target + "\\sub\\mine.txt"));
    DeleteFileA((target + "\\sub\\mine.txt").c_str());
    RemoveDirectoryA((target + "\\sub").c_str());
    RemoveDirectoryA(target.c_str());
  }
}

}  // namespace
