// What every section handler shares: reading a line, splitting fields and
// showing its one failure message.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/FileSystem.h"
#include "platform/FrontEnd.h"
#include "script/ActionSections.h"

// The headers whose lines a section's run takes, in order: k = 0 the plain
// [name], then [name:choice] for each chosen component and task in the
// script's order. Writes the k-th into buffer (without brackets); 0 when
// there is no k-th or it does not fit.
int ChosenSectionName(const char* name, int k, char* buffer, size_t size);

// Line index of section as a new string (measure, allocate, read); null when
// memory runs out.
char* ReadSectionLine(const char* section, int32_t index);

// What CSectionLines::Next found.
enum SectionLinesStatus {
  LINES_READY,         // Fields holds the next line
  LINES_END,           // no line is left
  LINES_NO_MEMORY,
  LINES_PLACEHOLDERS,  // a placeholder could not be filled in
  LINES_PROBLEM,       // the section's reader refused it: Fields.Problem
};

// The one loop over the lines of one header ("Files", "Files:docs"): each
// line read, the section's flag taken off, its placeholders filled in where
// the section fills them, and split by the section's reader. A handler only
// acts on the fields and says what a failure means to the user.
class CSectionLines {
 public:
  CSectionLines(ActionSectionId id, const char* header);
  ~CSectionLines();
  CSectionLines(const CSectionLines&) = delete;
  CSectionLines& operator=(const CSectionLines&) = delete;
  SectionLinesStatus Next();
  // The line Next gave: its fields, valid until the next call.
  SectionLine Fields;
  // 1 when the line started with the section's flag.
  int Flagged() const { return m_Flagged; }
  // The line as it stood before it was split (expanded where the whole line
  // is), for messages; "" when it could not be read.
  const char* Text() const { return m_Shown ? m_Shown : ""; }

 private:
  void Release();
  ActionSectionId m_Id;
  const char* m_Header;
  int32_t m_Index = 0;
  int32_t m_Count;
  int m_Flagged = 0;
  char* m_Raw = nullptr;
  char* m_Expanded = nullptr;
  char* m_Shown = nullptr;
};
// Drive and folder of a file path, without the final backslash; empty when
// the path names no folder (or it does not fit).
void FolderOf(const char* path, char* folder, size_t size);
// Leading decimal integer: optional sign, digits; anything else gives 0.
long ReadLeadingInteger(const char* text);

// The handler's failure, through the front end: no owner, caption the text
// of "ERROR", error icon. Fixed English texts...
void ShowSectionError(const char* text);
// ...those of allocation and syntax failures, from one pattern: "Failed to
// <what><why>\n", the line and "\n" when there is one, "Installation will be
// aborted" and end. RUN_FAILED.
RunResult FailSection(const char* what, const char* why, const char* line = nullptr, const char* end = ".");
// A line Next could not give (LINES_PLACEHOLDERS or out of memory), told so.
RunResult FailUnreadLine(const char* what, SectionLinesStatus got);
// ...and the translated texts of failed actions, their "%s" filled in order.
void ShowTranslatedSectionError(const char* key, const char* arg1, const char* arg2 = nullptr);
// The same, unless the step failed because its uninstall log line could not
// be written (STEP_UNLOGGED, undone): then the logger's own message. Always 0.
int ShowStepError(StepResult why, const char* key, const char* arg1, const char* arg2 = nullptr);
