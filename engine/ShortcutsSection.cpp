#include <objbase.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/TextEncoding.h"
#include "platform/FileSystem.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"

HRESULT CreateShellShortcut(const char* target, const char* shortcutFile, const char* iconFile,
                            int iconIndex, const char* description, const char* arguments,
                            const char* workingFolder, CUninstallLogger* logger) {
  char folder[PATH_BYTES];
  FolderOf(shortcutFile, folder, sizeof folder);
  if (!DirectoryExists(folder)) {
    const StepResult made = CreateDirectoryPathLogged(folder, logger);
    if (made != STEP_DONE) return made == STEP_UNLOGGED ? E_SHORTCUT_NOT_LOGGED : E_FAIL;
  }

  // wide: the shell link object of some systems takes narrow text in the
  // system's code page, not the program's
  WCHAR* texts[6] = {WideOf(target), WideOf(iconFile), WideOf(description), WideOf(arguments),
                     WideOf(workingFolder), WideOf(shortcutFile)};
  IShellLinkW* link = NULL;
  HRESULT hr = E_OUTOFMEMORY;
  bool all = true;
  for (WCHAR* t : texts) all = all && t;
  if (all)
    hr = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                          reinterpret_cast<void**>(&link));
  if (FAILED(hr)) {
    for (WCHAR* t : texts) free(t);
    return hr;
  }
  hr = link->SetPath(texts[0]);
  if (SUCCEEDED(hr)) hr = link->SetIconLocation(texts[1], iconIndex);
  if (SUCCEEDED(hr)) hr = link->SetDescription(texts[2]);
  if (SUCCEEDED(hr)) hr = link->SetArguments(texts[3]);
  if (SUCCEEDED(hr)) hr = link->SetWorkingDirectory(texts[4]);
  IPersistFile* file = NULL;
  if (SUCCEEDED(hr))
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(hr)) {
    // a shortcut of the user's by that name goes aside for a rollback
    if (lstrlenW(texts[5]) >= MAX_PATH || (logger && !logger->KeepOriginal(shortcutFile)))
      hr = E_FAIL;
    else
      hr = file->Save(texts[5], TRUE);
    file->Release();
  }
  const BOOL unlogged = SUCCEEDED(hr) && logger && !logger->LogFileCreated(shortcutFile);
  // a shortcut its uninstaller would not know of goes again; the rollback
  // puts back one of the user's it replaced
  if (unlogged) DeleteFileW(texts[5]);
  for (WCHAR* t : texts) free(t);
  link->Release();
  return unlogged ? E_SHORTCUT_NOT_LOGGED : hr;
}

RunResult ProcessShortcutsSection(const char* section) {
  CSectionLines lines(SECTION_SHORTCUTS, section);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    if (got == LINES_PROBLEM) return FailSection("create shortcuts", " due to errors in QSP file.");
    if (got != LINES_READY) return FailUnreadLine("create shortcuts", got);
    char* const* field = lines.Fields.Field;
    const int iconIndex = static_cast<int>(ReadLeadingInteger(field[6]));

    char folder[PATH_BYTES];
    FolderOf(field[0], folder, sizeof folder);
    const StepResult made = CreateDirectoryPathLogged(folder, &SetupState::UninstallLog);
    if (made != STEP_DONE) {
      ShowStepError(made, TK_COULD_NOT_CREATE_SHORTCUT_DIR_PATH, folder);
      return RUN_FAILED;
    }
    const HRESULT saved = CreateShellShortcut(field[1], field[0], field[5], iconIndex, field[4], field[2],
                                              field[3], &SetupState::UninstallLog);
    if (FAILED(saved)) {
      ShowStepError(saved == E_SHORTCUT_NOT_LOGGED ? STEP_UNLOGGED : STEP_FAILED, TK_COULD_NOT_CREATE_SHORTCUT,
                    field[0], field[1]);
      return RUN_FAILED;
    }
  }
  return RUN_DONE;
}
