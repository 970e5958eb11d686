// The private temporary folder: what Wine can show of it are the access
// rules it carries and the handle that keeps it in place; that a standard
// user's process is refused by those rules, Windows enforces.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <string.h>

#include <iostream>

#include <string>

#include "TestSupport.h"
#include "common/Mbcs.h"
#include "platform/LaunchAsUser.h"
#include "platform/PrivateTemp.h"

namespace {

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE buffer[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof buffer;
  return CreateWellKnownSid(type, NULL, buffer, &size) && EqualSid(sid, buffer);
}

// The allowed entries of path's DACL as "BA"/"SY"/"other" with their mask
// and flags; protected when the DACL takes nothing from above.
struct Rules {
  std::vector<std::string> Entries;
  bool Protected = false;
  bool OwnedByAdministrators = false;
};

Rules Describe(PSECURITY_DESCRIPTOR sd) {
  Rules r;
  PACL dacl = NULL;
  PSID owner = NULL;
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  r.Protected = (control & SE_DACL_PROTECTED) != 0;
  r.OwnedByAdministrators = owner && IsWellKnown(owner, WinBuiltinAdministratorsSid);
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACE_HEADER* ace = NULL;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace))) continue;
    char text[64];
    if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      wsprintfA(text, "type %u", ace->AceType);
      r.Entries.push_back(text);
      continue;
    }
    ACCESS_ALLOWED_ACE* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &allowed->SidStart;
    const char* who = IsWellKnown(sid, WinBuiltinAdministratorsSid) ? "BA"
                      : IsWellKnown(sid, WinLocalSystemSid)          ? "SY"
                                                                     : "other";
    wsprintfA(text, "%s %08lX %s", who, allowed->Mask,
              (ace->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
                  ? "inherits"
                  : "");
    r.Entries.push_back(text);
  }
  return r;
}

Rules RulesOf(const std::string& path) {
  PSECURITY_DESCRIPTOR sd = NULL;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                            NULL, NULL, NULL, NULL, &sd) != ERROR_SUCCESS)
    return Rules();
  Rules r = Describe(sd);
  LocalFree(sd);
  return r;
}

const std::vector<std::string> kOnlyAdministratorsAndSystem = {"BA 001F01FF inherits", "SY 001F01FF inherits"};

// What the folder is made with, read back by the system's own parser.
TEST(PrivateTempFolder, ItsRulesLetOnlyAdministratorsAndSystemIn) {
  for (const char* rules : {PrivateTempFolderRules(), PrivateTempFolderRules() + 4}) {
    SCOPED_TRACE(rules);
    PSECURITY_DESCRIPTOR sd = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(rules, SDDL_REVISION_1, &sd, NULL));
    Rules r = Describe(sd);
    LocalFree(sd);
    EXPECT_EQ(kOnlyAdministratorsAndSystem, r.Entries) << "no entry for the user, Users or Everyone";
    EXPECT_TRUE(r.Protected) << "the rules of the user's folder above must not reach in";
    EXPECT_EQ(rules == PrivateTempFolderRules(), r.OwnedByAdministrators);
  }
}

// The note by which an elevated run asks the process that started it to
// launch the application: only that user and the administrators may open
// it (Windows holds the rules; Wine shows them), and it asks for nothing
// until written whole.
TEST(PrivateTempFolder, TheLaunchNoteIsOnlyTheUsersAndTheAdministrators) {
  char id[24];
  HANDLE note = CreateLaunchNote(id, sizeof id);
  ASSERT_TRUE(note);
  PSECURITY_DESCRIPTOR sd = NULL;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetSecurityInfo(note, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                                               NULL, NULL, NULL, NULL, &sd));
  const Rules r = Describe(sd);
  LocalFree(sd);
  // "other" is this user: map to read and to write, nothing more
  EXPECT_EQ((std::vector<std::string>{"other 00000006 ", "BA 00000006 "}), r.Entries);

  char folder[PATH_BYTES];
  EXPECT_EQ(0, ReadLaunchNote(note, folder, sizeof folder)) << "nothing asked yet";
  EXPECT_EQ(0, WriteLaunchNote("0", "C:\\App")) << "no such note";
  ASSERT_EQ(1, WriteLaunchNote(id, "C:\\Program Files\\App"));
  EXPECT_EQ(1, ReadLaunchNote(note, folder, sizeof folder));
  EXPECT_STREQ("C:\\Program Files\\App", folder);
  // a folder without its end, as a note written by anyone else may be
  char* view = static_cast<char*>(MapViewOfFile(note, FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_TRUE(view);
  memset(view + sizeof(DWORD), 'a', PATH_BYTES);
  UnmapViewOfFile(view);
  EXPECT_EQ(0, ReadLaunchNote(note, folder, sizeof folder));
  CloseHandle(note);
  EXPECT_EQ(0, WriteLaunchNote(id, "C:\\App")) << "gone with the process that made it";
}

bool IsAdministrator() {
  BYTE buffer[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof buffer;
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, buffer, &size) &&
         CheckTokenMembership(NULL, buffer, &member) && member;
}

DWORD WINAPI CloseAfterAWhile(void* handle) {
  Sleep(300);
  CloseHandle(static_cast<HANDLE>(handle));
  return 0;
}

TEST(PrivateTempFolder, IsMadeInTheTemporaryFolderAndStaysInPlaceWhileHeld) {
  if (!IsAdministrator()) GTEST_SKIP() << "not an administrator: the setup program keeps the user's folder";
  char temp[MAX_PATH], dir[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  strcpy(dir, temp);
  ASSERT_EQ(1, UsePrivateTempFolder(dir));
  const std::string folder = dir;
  EXPECT_EQ(folder, PrivateTempFolder());
  ASSERT_EQ(std::string(temp), folder.substr(0, strlen(temp)));
  ASSERT_EQ('\\', folder.back());
  const std::string bare = folder.substr(0, folder.size() - 1);
  EXPECT_EQ(1, IsPrivateTempFolder(bare.c_str()));
  for (const std::string& not_ours : {std::string(temp) + "QST1234567", std::string(temp) + "QSTABCDEFGH",
                                      std::string(temp) + "sub\\QST0000ABCD", std::string("C:\\QST0000ABCD")})
    EXPECT_EQ(0, IsPrivateTempFolder(not_ours.c_str())) << not_ours;
  // a second call gives the same folder
  strcpy(dir, temp);
  ASSERT_EQ(1, UsePrivateTempFolder(dir));
  EXPECT_EQ(folder, dir);

  const std::string file = folder + "QSP1.tmp";
  WriteWholeFile(file, "QSP40\r\n");
  // The folder's rules as the system keeps them, and a file's inherited
  // ones. Wine keeps none: it makes them up from the Unix mode (the user
  // and SYSTEM), so there this part cannot be seen.
  Rules kept = RulesOf(bare);
  if (kept.Protected || kept.OwnedByAdministrators) {
    EXPECT_EQ(kOnlyAdministratorsAndSystem, kept.Entries);
    EXPECT_TRUE(kept.Protected && kept.OwnedByAdministrators);
    std::vector<std::string> inherited;
    for (const std::string& e : RulesOf(file).Entries) inherited.push_back(e.substr(0, 11));
    EXPECT_EQ((std::vector<std::string>{"BA 001F01FF", "SY 001F01FF"}), inherited);
  } else {
    std::cout << "this system keeps no access rules on files (Wine): the folder's own rules go unchecked here\n";
  }

  // held without delete sharing: it cannot be renamed or replaced meanwhile
  const std::string away = std::string(temp) + "qs-moved-away";
  EXPECT_FALSE(MoveFileA(bare.c_str(), away.c_str()));
  EXPECT_TRUE(PathExists(file));
  // as a folder nobody holds is renamed
  const std::string loose = std::string(temp) + "qs-loose";
  ASSERT_TRUE(CreateDirectoryA(loose.c_str(), NULL));
  EXPECT_TRUE(MoveFileA(loose.c_str(), away.c_str()));
  RemoveDirectoryA(away.c_str());
  RemoveDirectoryA(loose.c_str());

  // What a split chain's copy leaves when its own removal met the handle
  // above: its file, maybe read-only, maybe still held by the process
  // being torn down. All of it goes with the folder.
  const std::string copy = folder + "EXE1F.tmp", held = folder + "EXE20.tmp";
  WriteWholeFile(copy, "MZ");
  ASSERT_TRUE(SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_READONLY));
  WriteWholeFile(held, "MZ");
  HANDLE hold = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, hold);
  HANDLE letGo = CreateThread(NULL, 0, CloseAfterAWhile, hold, 0, NULL);
  ASSERT_TRUE(letGo != NULL);
  EndPrivateTempFolder();
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(letGo, 0)) << "the folder went while a file in it was held";
  WaitForSingleObject(letGo, INFINITE);
  CloseHandle(letGo);
  EXPECT_FALSE(PathExists(bare)) << "the folder and what the run left in it go at the end";
  EXPECT_STREQ("", PrivateTempFolder());

  // Where it cannot be made, an administrator's run is told so and keeps
  // the folder it gave: it must stop, not go on in the shared one. A
  // folder too long for it and a temporary name in it is one such place.
  const std::string missing = std::string(temp) + "qs-no-such-folder\\",
                    tooLong = std::string(temp) + std::string(246 - strlen(temp), 'x') + "\\";
  ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), NULL));
  for (const std::string& where : {missing, tooLong}) {
    strcpy(dir, where.c_str());
    EXPECT_EQ(-1, UsePrivateTempFolder(dir)) << where;
    EXPECT_EQ(where, dir);
    EXPECT_STREQ("", PrivateTempFolder());
    EndPrivateTempFolder();
  }
  RemoveDirectoryA(tooLong.c_str());
  // and a later run makes a new one
  strcpy(dir, temp);
  ASSERT_EQ(1, UsePrivateTempFolder(dir));
  EXPECT_NE(folder, dir);
  EndPrivateTempFolder();
}

}  // namespace
