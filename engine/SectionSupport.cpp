#include "engine/SectionSupport.h"

#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
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

char* SkipBlanks(char* p) {
  while (*p == ' ') ++p;
  return p;
}

char* SplitAtComma(char* text) {
  char* comma = const_cast<char*>(MbcsFindChar(text, ','));
  if (!comma) return NULL;
  *comma = '\0';
  return comma + 1;
}

void CutAtBlank(char* text) {
  for (char* p = text; *p; p = const_cast<char*>(MbcsNext(p))) {
    if (*p == ' ' || *p == '\r' || *p == '\n') {
      *p = '\0';
      return;
    }
  }
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
