// The shipped English translation table, checked against the keys the
// program's code uses, and the "|" rule that every translated text goes
// through.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "common/LineBreaks.h"
#include "common/Mbcs.h"
#include "common/TextKeys.h"

namespace {

struct KeyText {
  const char* Key;
  const char* Text;
};

// The English texts users know, by key. Typos are part of the keys the code
// uses. Which keys the table holds the code decides (TextKeys below).
const KeyText kEnglish[] = {
    {"ERROR", "Error"},
    {"INSTALL_TITLE", "Install"},
    {"UNINSTALL_TITLE", "Uninstall"},
    {"PROGRAM_ALREADY_RUNNING",
     "An instance of the installation program is already running."},
    {"WELCOME", "Welcome"},
    {"EULA", "End user license agreement"},
    {"BACK", "< Back"},
    {"NEXT", "Next >"},
    {"ACCEPT", "Accept"},
    {"CANCEL", "Cancel"},
    {"BROWSE", "Browse..."},
    {"EULA_BOX_TEXT",
     "Here are the EULA conditions: This string can be no longer than 2000 characters!"},
    {"WELCOME_PAGE_TEXT", "This program will install %APPNAME% on your computer."},
    {"EULA_PAGE_TEXT",
     "End user licence agreement||If you accept the terms listed below then click the Accept button. If you will not accept the terms, then click the Cancel button."},
    {"CHOOSEDESTINATION_PAGE_TEXT",
     "Setup will install %APPNAME% in the following folder.||To install into a different folder, click Browse, and select another folder."},
    {"STARTINSTALLATION_PAGE_TEXT",
     "You are now ready to install %APPNAME%.||Press the Next button to begin the installation or the Back button to reenter the installation information."},
    {"INSTALLING_PAGE_TEXT", "Installation in progress..."},
    {"DESTINATION_FOLDER", "Destination folder"},
    {"FINALIZING", "Finalizing..."},
    {"FINISH", "Finish"},
    {"INSTALLATION_FILE_IS_CORRUPT",
     "The installation file is corrupt: An embedded file failed the CRC check."},
    {"NO_APP_NAME_DEFINED", "The QSP file Global section defines no ApplicationName."},
    {"CREATE_TEMP_BITMAP_FAILED",
     "Failed to create temporary bitmap file in temporary files directory."},
    {"COPY_EMBEDDED_BITMAP_FAILED",
     "Failed to copy embedded background bmp file to the temp directory."},
    {"CREATE_TEMP_WMF_FAILED",
     "Failed to create temporary WMF file in temporary files directory."},
    {"COPY_ENBEDDED_WMF_FAILED",
     "Failed to copy embedded background WMF file to the temp directory."},
    {"DO_YOU_REALY_WANT_TO_QUIT",
     "Setup is not complete. Do you really want to quit the setup now?"},
    {"PLEASE_ENTER_PATH_TO_INSTALL_DIR",
     "Please enter a valid path to the desired install directory."},
    {"PROGRAM_WAS_SUCCESSFULLY_INSTALLED",
     "The program has been successfully installed.|||Press Finish to exit this installation."},
    {"SELECT_DIRECTORY", "Select the directory in which to place the program folder."},
    {"CHOOSE_DESITNATION_LOCATION", "Choose Destination Location"},
    {"START_INSTALLATION", "Start Installation"},
    {"INSTALLING", "Installing"},
    {"PROGRESS", "Progress"},
    {"COPYING_FILES", "Copying files"},
    {"COPYING_FILE", "Copying file:"},
    {"INSTALL_PROGRESS", "Install progress"},
    {"UNSPECIFIED_ERROR_OCCURED",
     "An unspecified error occurred. The installation will be terminated."},
    {"DISK_IS_FULL",
     "The destination disk is full. You should try to free up some disk space before attempting to install again."},
    {"COULD_NOT_CREATE_SHORTCUT",
     "The shortcut %s|linking to %s|could not be created. Installation will be aborted."},
    {"COULD_NOT_CREATE_SHORTCUT_DIR_PATH",
     "Failed to create shortcuts: The directory path|%s|could not be created. Installation will be aborted."},
    {"COULD_NOT_CREATE_INI_FILE",
     "Failed to create the INI file|%s|Installation will be aborted."},
    {"COULD_NOT_CREATE_INI_FILE_DIR_PATH",
     "Failed to create INI files: The directory path|%s|could not be created. Installation will be aborted."},
    {"COULD_NOT_WRITE_TO_INI_FILE",
     "Failed to write to the INI file|%s|Installation will be aborted."},
    {"COULD_NOT_WRITE_LINE_TO_REGESTRY",
     "Failed to write the following line to registry:|%s|Installation will be aborted."},
    {"COULD_NOT_EXECUTE_FILE",
     "Failed to execute the following file:|%s|Installation will be aborted."},
    {"FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS",
     "The folder %s|appears to contain files or subfolders that were not created by the installation program.|Do you want to delete these files and/or folders?"},
    {"DELETING_INSTALLED_FILES_AND_FOLDERS", "Deleting installed files and folders."},
    {"FOLDER_CONTAINS_LOCKED_FILES_OR_SUBFOLDERS",
     "The folder %s|or some of the files or subfolders in it, could not be deleted.|They may be read-only, or in use by another program. You can try to delete these files manually later."},
    {"FAILED_TO_CREATE_UNINSTALL_EXE",
     "The file Uninstall.exe could not be created, so to uninstall the program you must manually delete the created files."},
    {"COULD_NOT_FIND_UNINSTALL_LOG_FILE",
     "The file %s could not be found.|To uninstall the program you must manually delete the created files."},
    {"YOU_ARE_ABOUT_TO_UNINSTALL",
     "You are about to uninstall %APPNAME%. Do you want to continue?"},
    {"PLEASE_WAIT_WHILE_UNINSTALLING", "The program is being uninstalled... Please wait."},
    {"UNINSTALLATION_IS_NOW_FINISHED", "The program has now been uninstalled."},
    {"UINSTALL_PROCESS_FAILED",
     "A complete uninstallation could not be performed.|There may be errors in the file Uninstall.log."},
    {"NEWER_VERSION_IS_INSTALLED",
     "Version %s of %APPNAME% is installed, which is newer than the version %s that this setup installs.|Do you want to install the older version over it?"},
    {"INSTALLED_FOLDER_ONLY", "%APPNAME% is installed in %s.|This setup installs only into that folder."},
    {"FAILED_TO_COPY_TRANSLATIONS", "Failed to copy Translations.ini to the installation directory."},
    {"INSTALL_FOR_ALL_USERS", "Install for all users (needs administrator rights)"},
    {"INSTALL_JUST_FOR_ME", "Install just for me"},
    {"ADMINISTRATOR_RIGHTS_NEEDED",
     "Administrator rights are needed to install or remove %APPNAME% for all users.|Nothing was changed."},
    {"LAUNCH_APPLICATION", "Launch %APPNAME%"},
    {"LAUNCH_FAILED", "The program %s could not be started."},
};

std::string ReadSource(const std::string& path) {
  std::ifstream in(QS_SOURCE_DIR "/" + path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadEnglishIni() { return ReadSource("translations/English.ini"); }

// The keys of the English table (ASCII, before " = ").
std::set<std::string> EnglishKeys() {
  std::set<std::string> keys;
  const std::string file = ReadEnglishIni();
  for (size_t at = 0; (at = file.find(" = ", at)) != std::string::npos; at += 3)
    keys.insert(file.substr(file.rfind('\n', at) + 1, at - file.rfind('\n', at) - 1));
  return keys;
}

TEST(EnglishTable, HoldsTheTextsUsersKnow) {
  const std::string file = ReadEnglishIni();
  ASSERT_FALSE(file.empty());
  ASSERT_EQ("\r\n", file.substr(file.size() - 2)) << "the last line must end in CR LF too";

  std::map<std::string, std::string> found;
  int sections = 0, lineNumber = 0;
  for (size_t start = 0; start < file.size();) {
    const size_t lf = file.find('\n', start);
    ASSERT_NE(std::string::npos, lf);
    std::string line = file.substr(start, lf - start);
    start = lf + 1;
    ++lineNumber;
    ASSERT_TRUE(!line.empty() && line.back() == '\r') << "line " << lineNumber << " lacks CR LF";
    line.pop_back();
    ASSERT_EQ(std::string::npos, line.find('\r')) << "stray CR in line " << lineNumber;

    if (line.empty()) continue;  // blank lines are allowed
    if (line[0] == '[') {
      EXPECT_EQ("[Strings]", line) << "line " << lineNumber;
      EXPECT_EQ(1, lineNumber) << "the section must come first";
      ++sections;
      continue;
    }
    const size_t eq = line.find('=');
    ASSERT_NE(std::string::npos, eq) << "line " << lineNumber << ": " << line;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    size_t textStart = eq + 1;
    while (textStart < line.size() && line[textStart] == ' ') ++textStart;
    // Only one blank may stand on either side of "=", so that what the
    // lookup trims is exactly what this test strips.
    EXPECT_LE(textStart - key.size(), 3u) << line;
    EXPECT_FALSE(key.empty() || key[0] == ' ') << "line " << lineNumber;
    EXPECT_TRUE(found.emplace(key, line.substr(textStart)).second) << key << " appears twice";
  }
  EXPECT_EQ(1, sections);

  for (const KeyText& e : kEnglish) {
    auto it = found.find(e.Key);
    if (it == found.end()) {
      ADD_FAILURE() << e.Key << " is missing";
      continue;
    }
    EXPECT_EQ(e.Text, it->second) << e.Key;
    found.erase(it);
  }
  // the other keys are the code's to name (TextKeys below)
  const std::set<std::string> keys = EnglishKeys();
  for (const auto& other : found) EXPECT_EQ(1u, keys.count(other.first)) << other.first;
}

// Each key of the code is a constant of common/TextKeys.h; no source spells
// one out. Every key the code uses is in English.ini, and every key there is
// used or listed as reserved.
TEST(TextKeys, TheCodeAndTheEnglishTableHoldTheSameKeys) {
  const std::set<std::string> english = EnglishKeys();
  ASSERT_GE(english.size(), 50u);

  // each constant holds its own name
  const std::string header = ReadSource("common/TextKeys.h");
  std::set<std::string> declared;
  const std::regex constant("TK_([A-Z0-9_]+) = \"([^\"]*)\";");
  for (std::sregex_iterator m(header.begin(), header.end(), constant), end; m != end; ++m) {
    EXPECT_EQ((*m)[1].str(), (*m)[2].str()) << "TK_" << (*m)[1];
    declared.insert((*m)[1]);
  }
  std::set<std::string> reserved(std::begin(kReservedTextKeys), std::end(kReservedTextKeys));

  std::set<std::string> used;
  const std::regex use("\\bTK_([A-Z0-9_]+)\\b"), literal("\"([A-Z][A-Z0-9_]+)\"");
  int files = 0;
  for (const char* folder : {"common", "efs", "script", "platform", "engine", "uninstall", "ui", "driver"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(QS_SOURCE_DIR "/" + std::string(folder))) {
      const std::string name = entry.path().filename().string();
      const std::string ext = entry.path().extension().string();
      if ((ext != ".cpp" && ext != ".h") || name == "TextKeys.h") continue;
      ++files;
      const std::string where = std::string(folder) + "/" + name;
      const std::string text = ReadSource(entry.path().lexically_relative(QS_SOURCE_DIR).generic_string());
      for (std::sregex_iterator m(text.begin(), text.end(), use), end; m != end; ++m) used.insert((*m)[1]);
      for (std::sregex_iterator m(text.begin(), text.end(), literal), end; m != end; ++m) {
        const size_t lineStart = text.rfind('\n', (size_t)m->position()) + 1;
        if (text.compare(lineStart, std::string::npos, "//", 0, 2) == 0 ||
            text.substr(lineStart, (size_t)m->position() - lineStart).find("//") != std::string::npos)
          continue;  // a comment may name a key
        EXPECT_EQ(0u, english.count((*m)[1])) << where << " spells out the key " << (*m)[1] << ": use TK_" << (*m)[1];
      }
    }
  }
  EXPECT_GT(files, 50);
  EXPECT_GE(used.size(), 50u);

  for (const std::string& k : used) {
    EXPECT_EQ(1u, english.count(k)) << "TK_" << k << " is used, but English.ini has no " << k;
    EXPECT_EQ(0u, reserved.count(k)) << k << " is used, but listed as reserved";
  }
  for (const std::string& k : declared) EXPECT_EQ(1u, used.count(k)) << "TK_" << k << " is used nowhere";
  for (const std::string& k : english)
    EXPECT_TRUE(used.count(k) || reserved.count(k)) << k << " of English.ini is used nowhere and not reserved";
  for (const std::string& k : reserved) EXPECT_EQ(1u, english.count(k)) << "reserved " << k;
}

std::string WithLineBreaks(std::string text) {
  ReplaceLineBreaks(&text[0]);
  return text;
}

TEST(LineBreaks, EveryBarBecomesALineFeed) {
  EXPECT_EQ("first\nsecond\n\nthird", WithLineBreaks("first|second||third"));
  EXPECT_EQ("\n\n\nend\n", WithLineBreaks("|||end|"));
  EXPECT_EQ("no breaks", WithLineBreaks("no breaks"));
  EXPECT_EQ("", WithLineBreaks(""));
  ReplaceLineBreaks(nullptr);  // nothing to do, and no crash
}

TEST(LineBreaks, ATrailByteIsNeverTakenForABar) {
  // 0x81 0x7C is one character of code page 932 whose second byte is "|".
  const std::string dbcs = "A\x81|B|\x81|";
  MbcsSetCodePage(932);
  EXPECT_EQ("A\x81|B\n\x81|", WithLineBreaks(dbcs));
  // a lead byte just before the end takes no byte after it
  EXPECT_EQ("x\n\x81", WithLineBreaks("x|\x81"));
  MbcsSetCodePage(0);
  // on a single-byte code page the same bytes hold three bars
  EXPECT_EQ("A\x81\nB\n\x81\n", WithLineBreaks(dbcs));
}

}  // namespace
