#include "ui/UninstallerCreation.h"

#include <stdlib.h>
#include <string.h>

#include "common/PathText.h"
#include "driver/SetupState.h"
#include "efs/EfsFormat.h"
#include "efs/PeImage.h"
#include "script/Placeholders.h"

namespace {

// Everything the steps hold, released on every path.
struct Work {
  HANDLE Target = INVALID_HANDLE_VALUE;
  HANDLE Own = INVALID_HANDLE_VALUE;
  char* ExePath = NULL;
  char* TablePath = NULL;
  unsigned char* Buffer = NULL;
  char LogPath[MAX_PATH + 16] = "";
  ~Work() {
    if (Target != INVALID_HANDLE_VALUE) CloseHandle(Target);
    if (Own != INVALID_HANDLE_VALUE) CloseHandle(Own);
    free(ExePath);
    free(TablePath);
    free(Buffer);
  }
};

struct Failed {};

void FailExe(HWND dialog) {
  SetupState::Translations.ShowMessage(dialog, "FAILED_TO_CREATE_UNINSTALL_EXE", "ERROR", MB_OK);
  throw Failed();
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, NULL) && written == size;
}

void WriteUninstallExe(HWND dialog, Work& w) {
  const DWORD stubSize = SetupState::Efs.GetStubSize();
  w.ExePath = ExpandPlaceholders("%MAINDIR%Uninstall.exe");
  if (!w.ExePath) FailExe(dialog);
  w.Target = CreateFileA(w.ExePath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (w.Target == INVALID_HANDLE_VALUE) {
    // not ours to delete: it could not be created
    free(w.ExePath);
    w.ExePath = NULL;
    FailExe(dialog);
  }
  w.Own = CreateFileA(SetupState::ExePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, NULL);
  if (w.Own == INVALID_HANDLE_VALUE) FailExe(dialog);
  // A stub never is small enough to fail here; if memory runs out it is
  // still the same message, never a read into nothing.
  const DWORD bufferSize = stubSize > DWORD(EFS_SIGNATURE_SIZE) ? stubSize : DWORD(EFS_SIGNATURE_SIZE);
  w.Buffer = static_cast<unsigned char*>(malloc(bufferSize));
  if (!w.Buffer) FailExe(dialog);
  DWORD got = 0;
  if (!ReadFile(w.Own, w.Buffer, stubSize, &got, NULL) || got != stubSize) FailExe(dialog);
  // A signed setup file's headers name its certificate table, which the
  // copy does not carry: the uninstaller is a plain unsigned program.
  PeClearSignature(w.Buffer, stubSize);
  if (!WriteAll(w.Target, w.Buffer, stubSize)) FailExe(dialog);
  memcpy(w.Buffer, UninstallerSignature, EFS_SIGNATURE_SIZE);
  if (!WriteAll(w.Target, w.Buffer, EFS_SIGNATURE_SIZE)) FailExe(dialog);
}

void ExtractTable(Work& w) {
  w.TablePath = ExpandPlaceholders("%MAINDIR%Translations.ini");
  if (!w.TablePath) {
    SetupState::Translations.ShowMessage(NULL, "UNSPECIFIED_ERROR_OCCURED", "ERROR", MB_OK);
    throw Failed();
  }
  try {
    SetLastError(0);
    if (SetupState::Efs.ExtractFile("Translations.ini", w.TablePath, 1, NULL, 500) != 1) {
      if (GetLastError() == ERROR_DISK_FULL)
        SetupState::Translations.ShowMessage(NULL, "DISK_IS_FULL", "ERROR", MB_OK);
      else
        MessageBoxA(NULL, "Failed to copy Translations.ini to the installation directory.", "Error", MB_OK);
      throw Failed();
    }
  } catch (EFSERROR error) {
    SetupState::Translations.ShowMessage(
        NULL, error == EFS_ERR_CRC ? "INSTALLATION_FILE_IS_CORRUPT" : "UNSPECIFIED_ERROR_OCCURED", "ERROR",
        MB_OK);
    throw Failed();
  }
}

// Without its log the uninstaller could undo nothing, so a failed copy fails
// the whole step like a failed Uninstall.exe, and the run is rolled back.
void CopyLog(HWND dialog, Work& w) {
  if (!PathJoin(w.LogPath, MAX_PATH, SetupState::InstallDir, "Uninstall.log") ||
      !SetupState::UninstallLog.CopyLogTo(w.LogPath))
    FailExe(dialog);
}

}  // namespace

int CreateUninstaller(HWND dialog) {
  EndDialog(dialog, 0);
  Work w;
  try {
    WriteUninstallExe(dialog, w);
    ExtractTable(w);
    CopyLog(dialog, w);
  } catch (...) {
    if (w.Target != INVALID_HANDLE_VALUE) CloseHandle(w.Target);
    w.Target = INVALID_HANDLE_VALUE;
    if (w.ExePath) DeleteFileA(w.ExePath);
    if (w.TablePath) DeleteFileA(w.TablePath);
    if (w.LogPath[0]) DeleteFileA(w.LogPath);
    return 0;
  }
  PostQuitMessage(0);
  return 1;
}
