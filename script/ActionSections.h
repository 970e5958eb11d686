// The action sections of a project script, each described once: the setup
// program runs them in this order and the command checks them from here.
// A new section is a row here, its handler (engine/) and its checker (cli/).
#pragma once
#include <stddef.h>

#include "uninstall/LogLines.h"

enum ActionSectionId {
  SECTION_FILES,
  SECTION_SHORTCUTS,
  SECTION_INIFILES,
  SECTION_SYSREGUNINSTALL,
  SECTION_SYSREGINT,
  SECTION_SYSREGSTRING,
  SECTION_REGISTERDLLS,
  SECTION_EXECUTE,
  ACTION_SECTION_COUNT
};

struct ActionSection {
  ActionSectionId Id;
  const char* Name;  // as in the script, without its brackets
  // The comma-separated fields of a line, for messages; null for sections
  // whose lines are no list of fields.
  const char* Fields;
  int Commas;       // how many commas a line needs (0: no rule)
  int ExactCommas;  // 1 when it needs exactly that many
  // The kinds of uninstall-log record the section's changes write, as bits
  // (1 << LogRecordKind).
  unsigned LogKinds;
  // 1 while the user may still cancel: the run waits out a pause and stops
  // on a cancel after it; Cancel is disabled before the first section that
  // is not.
  int Cancellable;
  // Percent of the progress bar reported once the section is done; 0
  // reports nothing (the files report their own bytes).
  int ProgressAfter;
  // The flag a line may start with, or null: "ifabsent:" writes an INI
  // entry or a registry value only where there is none (an upgrade keeps
  // the user's), "ifempty:" removes a key at uninstall only when nothing is
  // in it (a vendor key that other programs share).
  const char* Flag;
};

// The rest of line after flag and the blanks behind it, or null when line
// does not start with flag.
const char* SkipLineFlag(const char* line, const char* flag);

// In the order the setup program runs them.
extern const ActionSection kActionSections[ACTION_SECTION_COUNT];

// The section of that name (compared case-sensitively), or null.
const ActionSection* FindActionSection(const char* name);

// A [Files] line as the setup program reads it: the source before its first
// comma (multibyte-aware), the destination after it, blanks before it
// skipped. 0 when the line has no comma. Points into line.
struct FilesLine {
  const char* Source;
  size_t SourceLength;
  const char* Destination;
};
int SplitFilesLine(const char* line, FilesLine* out);
