#include "ui/WizardFiles.h"

#include <stdlib.h>
#include <string.h>

#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "efs/EntryExtraction.h"
#include "platform/RunLog.h"
#include "platform/TextEncoding.h"

namespace {

WCHAR* g_Licence;
HBITMAP g_Image;

RunResult ReadLicence(const char* tempDir) {
  char path[PATH_BYTES];
  const ExtractOutcome outcome = ExtractToTemp(tempDir, "LIC", EFS_LICENCE_ENTRY, path);
  DWORD size = 0;
  char* bytes = outcome == EXTRACT_DONE ? ReadWholeFile(path, &size) : NULL;
  if (path[0]) DeleteFileA(path);
  g_Licence = bytes ? LicenceText(bytes, size) : NULL;
  free(bytes);
  if (g_Licence) {
    SetupState::ShowEulaPage = 1;
    return RUN_DONE;
  }
  RunLogLine("Failure", "the licence text cannot be read from the setup file");
  const bool corrupt = outcome == EXTRACT_CORRUPT;
  SetupState::Translations.ShowMessage(NULL, corrupt ? TK_INSTALLATION_FILE_IS_CORRUPT : TK_UNSPECIFIED_ERROR_OCCURED,
                                       TK_ERROR, MB_OK | MB_ICONERROR);
  return corrupt ? RUN_DAMAGED : RUN_FAILED;
}

void ReadImage(const char* tempDir) {
  char path[PATH_BYTES];
  if (ExtractToTemp(tempDir, "BMP", EFS_WIZARD_IMAGE_ENTRY, path) == EXTRACT_DONE)
    g_Image = static_cast<HBITMAP>(
        LoadImageA(NULL, path, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (path[0]) DeleteFileA(path);
  if (!g_Image) RunLogLine("Wizard", "the wizard image cannot be read: the built-in picture shows");
}

bool HasValue(const char* key) {
  char value[2] = "";
  SetupState::Project.GetValue("Global", key, "", value, sizeof value);
  return value[0] != '\0';
}

}  // namespace

ExtractOutcome ExtractToTemp(const char* tempDir, const char* prefix, const char* entry, char* path) {
  if (!MakeTempFileName(tempDir, prefix, 0, path)) {
    path[0] = '\0';
    return EXTRACT_FAILED;
  }
  return ExtractEntry(SetupState::Efs, entry, path);
}

WCHAR* LicenceText(const char* utf8, size_t size) {
  if (size >= 3 && memcmp(utf8, "\xEF\xBB\xBF", 3) == 0) {
    utf8 += 3;
    size -= 3;
  }
  if (size > 0x3FFFFFFF) return NULL;
  const int n = size ? MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(size), NULL, 0) : 0;
  if (size && n <= 0) return NULL;
  WCHAR* wide = static_cast<WCHAR*>(malloc((n + 1) * sizeof(WCHAR)));
  if (!wide) return NULL;
  if (n) MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(size), wide, n);
  int lone = 0;  // line feeds without their carriage return
  for (int i = 0; i < n; ++i) lone += wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r');
  WCHAR* text = static_cast<WCHAR*>(malloc((n + lone + 1) * sizeof(WCHAR)));
  if (text) {
    int j = 0;
    for (int i = 0; i < n; ++i) {
      if (wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r')) text[j++] = L'\r';
      text[j++] = wide[i];
    }
    text[j] = L'\0';
  }
  free(wide);
  return text;
}

RunResult ReadWizardFiles(const char* tempDir) {
  ReleaseWizardFiles();
  if (HasValue("WizardImage")) ReadImage(tempDir);
  return HasValue("LicenseFile") ? ReadLicence(tempDir) : RUN_DONE;
}

const WCHAR* GetWizardLicence() { return g_Licence; }
HBITMAP GetWizardImage() { return g_Image; }

void ReleaseWizardFiles() {
  free(g_Licence);
  g_Licence = NULL;
  if (g_Image) DeleteObject(g_Image);
  g_Image = NULL;
}
