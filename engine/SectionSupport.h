// What every section handler shares: reading a line, splitting fields and
// showing its one failure message.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/FileSystem.h"

// The headers whose lines a section's run takes, in order: k = 0 the plain
// [name], then [name:choice] for each chosen component and task in the
// script's order. Writes the k-th into buffer (without brackets); 0 when
// there is no k-th or it does not fit.
int ChosenSectionName(const char* name, int k, char* buffer, size_t size);

// Line index of section as a new string (measure, allocate, read); null when
// memory runs out.
char* ReadSectionLine(const char* section, int32_t index);

// The blanks at the start of a field.
char* SkipBlanks(char* p);
// Cuts text at its first comma (multibyte-aware) and returns what follows,
// or null when there is no comma.
char* SplitAtComma(char* text);
// Cuts text at its first blank, CR or LF.
void CutAtBlank(char* text);
// Leading decimal integer: optional sign, digits; anything else gives 0.
long ReadLeadingInteger(const char* text);

// The handler's failure, through the front end: no owner, caption the text
// of "ERROR", error icon. The fixed English texts of allocation and syntax failures...
void ShowSectionError(const char* text);
// ...and the translated texts of failed actions, their "%s" filled in order.
void ShowTranslatedSectionError(const char* key, const char* arg1, const char* arg2 = nullptr);
// The same, unless the step failed because its uninstall log line could not
// be written (STEP_UNLOGGED, undone): then the logger's own message. Always 0.
int ShowStepError(StepResult why, const char* key, const char* arg1, const char* arg2 = nullptr);
