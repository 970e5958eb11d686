#include "engine/UninstallerCreation.h"

#include <stdlib.h>
#include <string.h>

#include "common/PathText.h"
#include "common/TextKeys.h"
#include "driver/SetupFileKind.h"
#include "driver/SetupState.h"
#include "efs/EntryExtraction.h"
#include "efs/EfsFormat.h"
#include "efs/PeImage.h"
#include "platform/FileSystem.h"
#include "platform/FrontEnd.h"
#include "platform/RunLog.h"
#include "platform/TextEncoding.h"
#include "script/Placeholders.h"
#include "script/Translations.h"
#include "uninstall/RollbackJournal.h"

namespace {

// Everything the steps hold, released on every path.
struct Work {
  HANDLE Target = INVALID_HANDLE_VALUE;
  HANDLE Own = INVALID_HANDLE_VALUE;
  char* ExePath = NULL;
  char* TablePath = NULL;
  unsigned char* Buffer = NULL;
  char LogPath[PATH_BYTES + 16] = "";
  ~Work() {
    if (Target != INVALID_HANDLE_VALUE) CloseHandle(Target);
    if (Own != INVALID_HANDLE_VALUE) CloseHandle(Own);
    free(ExePath);
    free(TablePath);
    free(Buffer);
  }
};

// Each step shows its own message when it fails and gives RUN_FAILED, or
// RUN_DAMAGED when a stored file failed its check.
RunResult FailExe(HWND dialog) {
  SetupState::Translations.ShowMessage(dialog, TK_FAILED_TO_CREATE_UNINSTALL_EXE, TK_ERROR, MB_OK);
  return RUN_FAILED;
}

RunResult FailWith(const char* key, RunResult result = RUN_FAILED) {
  SetupState::Translations.ShowMessage(NULL, key, TK_ERROR, MB_OK);
  return result;
}

enum StoredUninstaller {
  STORED_WRITTEN,
  STORED_FAILED,   // shown
  STORED_DAMAGED,  // shown
  STORED_NONE,     // none stored, or no uninstaller by that name: the copy goes there
};

// A setup built with --sign stores its uninstaller signed by the publisher
// (a copy of ourselves would carry no signature): that one is written as
// it is. A file of the author's by that name which is no uninstaller is
// replaced by the copy.
StoredUninstaller WriteStoredUninstaller(HWND dialog, Work& w) {
  if (!SetupState::Efs.Exists(EFS_UNINSTALLER_ENTRY)) return STORED_NONE;
  switch (ExtractEntry(SetupState::Efs, EFS_UNINSTALLER_ENTRY, w.ExePath)) {
    case EXTRACT_DONE:
      return ReadSetupFileKind(w.ExePath) == FILEKIND_UNINSTALLER ? STORED_WRITTEN : STORED_NONE;
    case EXTRACT_CORRUPT: FailWith(TK_INSTALLATION_FILE_IS_CORRUPT); return STORED_DAMAGED;
    case EXTRACT_DISK_FULL: FailWith(TK_DISK_IS_FULL); return STORED_FAILED;
    default: FailExe(dialog); return STORED_FAILED;
  }
}

RunResult WriteUninstallExe(HWND dialog, Work& w) {
  const DWORD stubSize = SetupState::Efs.GetStubSize();
  w.ExePath = ExpandPlaceholders("%MAINDIR%Uninstall.exe");
  if (!w.ExePath) return FailExe(dialog);
  // An uninstaller of an earlier installation goes aside: a rollback of this
  // one puts it back. Only what this step wrote is its to delete.
  if (!SetupState::UninstallLog.KeepOriginal(w.ExePath)) {
    free(w.ExePath);
    w.ExePath = NULL;
    return FailExe(dialog);
  }
  switch (WriteStoredUninstaller(dialog, w)) {
    case STORED_WRITTEN: return RUN_DONE;
    case STORED_FAILED: return RUN_FAILED;
    case STORED_DAMAGED: return RUN_DAMAGED;
    case STORED_NONE: break;
  }
  w.Target = CreateFileA(w.ExePath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (w.Target == INVALID_HANDLE_VALUE) {
    // not ours to delete: it could not be created
    free(w.ExePath);
    w.ExePath = NULL;
    return FailExe(dialog);
  }
  w.Own = OpenExisting(SetupState::ExePath, GENERIC_READ, FILE_SHARE_READ);
  if (w.Own == INVALID_HANDLE_VALUE) return FailExe(dialog);
  // A stub never is small enough to fail here; if memory runs out it is
  // still the same message, never a read into nothing.
  const DWORD bufferSize = stubSize > DWORD(EFS_SIGNATURE_SIZE) ? stubSize : DWORD(EFS_SIGNATURE_SIZE);
  w.Buffer = static_cast<unsigned char*>(malloc(bufferSize));
  if (!w.Buffer) return FailExe(dialog);
  DWORD got = 0;
  if (!ReadFile(w.Own, w.Buffer, stubSize, &got, NULL) || got != stubSize) return FailExe(dialog);
  // A signed setup file's headers name its certificate table, which the
  // copy does not carry: the uninstaller is a plain unsigned program.
  PeClearSignature(w.Buffer, stubSize);
  if (!WriteAll(w.Target, w.Buffer, stubSize)) return FailExe(dialog);
  memcpy(w.Buffer, UninstallerSignature, EFS_SIGNATURE_SIZE);
  if (!WriteAll(w.Target, w.Buffer, EFS_SIGNATURE_SIZE)) return FailExe(dialog);
  return RUN_DONE;
}

RunResult ExtractTable(Work& w) {
  w.TablePath = ExpandPlaceholders("%MAINDIR%Translations.ini");
  if (!w.TablePath) return FailWith(TK_UNSPECIFIED_ERROR_OCCURED);
  if (!SetupState::UninstallLog.KeepOriginal(w.TablePath)) {
    free(w.TablePath);
    w.TablePath = NULL;
    return FailWith(TK_FAILED_TO_COPY_TRANSLATIONS);
  }
  // the table the installation spoke, so that the uninstaller speaks it
  switch (ExtractEntry(SetupState::Efs, ChosenTranslationEntry(), w.TablePath)) {
    case EXTRACT_DONE: {
      // the uninstaller reads it right whichever code page it runs in, and
      // finds there the name its question gives and whom it was installed for
      char* name = ExpandPlaceholders("%APPNAME%");
      const int ok = name && ConvertTableToUnicode(w.TablePath) &&
                     WriteInstalledAppName(w.TablePath, name, SetupState::Scope == SetupState::SCOPE_USER);
      free(name);
      return ok ? RUN_DONE : FailWith(TK_FAILED_TO_COPY_TRANSLATIONS);
    }
    case EXTRACT_CORRUPT: return FailWith(TK_INSTALLATION_FILE_IS_CORRUPT, RUN_DAMAGED);
    case EXTRACT_DISK_FULL: return FailWith(TK_DISK_IS_FULL);
    case EXTRACT_FAILED:
    case EXTRACT_UNLOGGED:  // no log here
      break;
  }
  return FailWith(TK_FAILED_TO_COPY_TRANSLATIONS);
}

// The whole earlier log into *text (null and 1 when there is none); 0 when
// it is there and cannot be read.
int ReadEarlierLog(const char* path, char** text, DWORD* size) {
  *text = ReadWholeFile(path, size, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (*text) return 1;
  *size = 0;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Without its log the uninstaller could undo nothing, so a failed copy fails
// the whole step like a failed Uninstall.exe, and the run is rolled back.
// An earlier installation's log in the folder is merged in: its uninstaller
// is replaced, and what it installed must still go at uninstall. One that
// exists and cannot be read fails the step rather than be forgotten.
RunResult CopyLog(HWND dialog, Work& w) {
  if (!PathJoin(w.LogPath, sizeof w.LogPath, SetupState::InstallDir, "Uninstall.log")) return FailExe(dialog);
  char* earlier = NULL;
  DWORD earlierSize = 0;
  const int read = ReadEarlierLog(w.LogPath, &earlier, &earlierSize);
  if (!read || !SetupState::UninstallLog.KeepOriginal(w.LogPath)) {
    free(earlier);
    w.LogPath[0] = '\0';
    return FailExe(dialog);
  }
  const bool merging = earlier != NULL;
  const int copied = SetupState::UninstallLog.CopyMergedLogTo(w.LogPath, earlier, earlierSize);
  free(earlier);
  if (!copied) return FailExe(dialog);
  if (merging) RunLogLine("Uninstall log merged with the earlier one", w.LogPath);
  return RUN_DONE;
}

}  // namespace

RunResult CreateUninstaller(HWND dialog) {
  Work w;
  // a script without [Files] made no folder for the uninstaller; made here,
  // it is in the log and goes at uninstall or rollback
  if (CreateDirectoryPathLogged(SetupState::InstallDir, &SetupState::UninstallLog) != STEP_DONE)
    return FailExe(dialog);
  RunResult result = WriteUninstallExe(dialog, w);
  if (result == RUN_DONE) result = ExtractTable(w);
  if (result == RUN_DONE) result = CopyLog(dialog, w);
  if (result == RUN_DONE) return result;
  if (w.Target != INVALID_HANDLE_VALUE) CloseHandle(w.Target);
  w.Target = INVALID_HANDLE_VALUE;
  if (w.ExePath) DeleteFileA(w.ExePath);
  if (w.TablePath) DeleteFileA(w.TablePath);
  if (w.LogPath[0]) DeleteFileA(w.LogPath);
  return result;
}
