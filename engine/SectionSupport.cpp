#include "engine/SectionSupport.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "script/Placeholders.h"
#include "platform/FrontEnd.h"
#include "uninstall/UninstallLogger.h"

int ChosenSectionName(const char* name, int k, char* buffer, size_t size) {
  const size_t n = strlen(name);
  if (k == 0) {
    if (n + 1 > size) return 0;
    memcpy(buffer, name, n + 1);
    return 1;
  }
  for (int i = 0; i < SetupState::ChoiceCount; ++i) {
    const SetupChoice& choice = SetupState::Choices[i];
    if (!choice.Chosen || --k > 0) continue;
    const size_t m = strlen(choice.Name);
    if (n + 1 + m + 1 > size) return 0;
    memcpy(buffer, name, n);
    buffer[n] = ':';
    memcpy(buffer + n + 1, choice.Name, m + 1);
    return 1;
  }
  return 0;
}

char* ReadSectionLine(const char* section, int32_t index) {
  int32_t n = SetupState::Project.GetLine(section, index, NULL, 0);
  if (n < 1) n = 1;
  char* line = static_cast<char*>(malloc(n));
  if (!line) return NULL;
  line[0] = '\0';
  SetupState::Project.GetLine(section, index, line, n);
  return line;
}

CSectionLines::CSectionLines(ActionSectionId id, const char* header)
    : m_Id(id), m_Header(header), m_Count(SetupState::Project.GetLineCount(header)) {
  memset(&Fields, 0, sizeof Fields);
}

CSectionLines::~CSectionLines() { Release(); }

void CSectionLines::Release() {
  free(m_Raw);
  free(m_Expanded);
  free(m_Shown);
  m_Raw = m_Expanded = m_Shown = NULL;
  memset(&Fields, 0, sizeof Fields);
}

SectionLinesStatus CSectionLines::Next() {
  Release();
  if (m_Index >= m_Count) return LINES_END;
  m_Raw = ReadSectionLine(m_Header, m_Index++);
  if (!m_Raw) return LINES_NO_MEMORY;
  const ActionSection& section = kActionSections[m_Id];
  const char* rest = SkipLineFlag(m_Raw, section.Flag);
  m_Flagged = rest != NULL;
  char* text = rest ? m_Raw + (rest - m_Raw) : m_Raw;
  if (section.ExpandedField < 0) {
    m_Expanded = ExpandPlaceholders(text);
    if (!m_Expanded) return LINES_PLACEHOLDERS;
    text = m_Expanded;
  }
  m_Shown = strdup(text);
  if (!m_Shown) return LINES_NO_MEMORY;
  if (ReadActionLine(m_Id, text, &Fields) != LINE_FINE) return LINES_PROBLEM;
  if (section.ExpandedField >= 0) {
    m_Expanded = ExpandPlaceholders(Fields.Field[section.ExpandedField]);
    if (!m_Expanded) return LINES_PLACEHOLDERS;
    Fields.Field[section.ExpandedField] = m_Expanded;
  }
  return LINES_READY;
}

// Drive and folder of a file path, without the final backslash; empty when
// the path names no folder.
void FolderOf(const char* path, char* folder, size_t size) {
  folder[0] = '\0';
  const char* slash = MbcsFindLastChar(path, '\\');
  if (!slash || static_cast<size_t>(slash - path) >= size) return;
  memcpy(folder, path, slash - path);
  folder[slash - path] = '\0';
}

long ReadLeadingInteger(const char* text) {
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  long long number = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    number = number * 10 + (*text - '0');
    if (number > 0xFFFFFFFFll) number = 0xFFFFFFFFll;  // saturate, never overflow
  }
  return static_cast<long>(negative ? -number : number);
}

static void ShowWithErrorCaption(const char* text) {
  char* caption = SetupState::Translations.GetString(TK_ERROR);
  FrontEnd()->ShowFailure(NULL, text, caption ? caption : "Error", MB_ICONERROR);
  free(caption);
}

void ShowSectionError(const char* text) { ShowWithErrorCaption(text); }

RunResult FailSection(const char* what, const char* why, const char* line, const char* end) {
  const char* args[5] = {what, why, line ? line : "", line ? "\n" : "", end};
  char text[2048];
  SafeFormat(text, sizeof text, "Failed to %s%s\n%s%sInstallation will be aborted%s", args, 5);
  ShowWithErrorCaption(text);
  return RUN_FAILED;
}

RunResult FailUnreadLine(const char* what, SectionLinesStatus got) {
  return FailSection(what, got == LINES_PLACEHOLDERS ? ": Unable to realize QSP file placeholders."
                                                     : " due to memory allocation error.");
}

void ShowTranslatedSectionError(const char* key, const char* arg1, const char* arg2) {
  char* format = SetupState::Translations.GetString(key);
  const char* args[2] = {arg1 ? arg1 : "", arg2 ? arg2 : ""};
  char text[2048];
  SafeFormat(text, sizeof text, format ? format : key, args, 2);
  free(format);
  ShowWithErrorCaption(text);
}

int ShowStepError(StepResult why, const char* key, const char* arg1, const char* arg2) {
  if (why == STEP_UNLOGGED)
    CUninstallLogger::ShowWriteError();
  else
    ShowTranslatedSectionError(key, arg1, arg2);
  return 0;
}
