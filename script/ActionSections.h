// The action sections of a project script, each described once: the setup
// program runs them in this order, and its handlers and the command's
// checks read their lines with the same reader from here.
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

// What keeps a line from being read, found by the section's reader.
enum LineProblem {
  LINE_FINE,
  LINE_NO_COMMA,        // fewer commas than the section has fields
  LINE_NO_ROOT,         // registry: no "/" after the root
  LINE_NO_VALUE_NAME,   // registry value: no "/" before the value name
  LINE_UNKNOWN_ROOT,    // registry: not one of the four roots
  LINE_NO_KEY,          // registry key to remove: the path names none (the whole root)
};

// A line split in place by its section's reader. Fields point into the
// line; Column is where the problem lies (1-based, in bytes of the line
// read), 0 when there is none.
enum { SECTION_FIELDS_MAX = 7 };
struct SectionLine {
  char* Field[SECTION_FIELDS_MAX];
  int Count;
  int Quoted;  // [INIFiles]: the value was in double quotes
  LineProblem Problem;
  size_t Column;
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
  // -1: the whole line is expanded before it is read; else only this field
  // is, after ([Files]: its source is the author's path, not the user's).
  int ExpandedField;
};

// The rest of line after flag and the blanks behind it, or null when line
// does not start with flag.
const char* SkipLineFlag(const char* line, const char* flag);

// The line of section id split by its reader (flag taken off, expanded
// where the section expands before reading): its problem, LINE_FINE with
// out's fields.
LineProblem ReadActionLine(ActionSectionId id, char* line, SectionLine* out);

// The four roots a registry line may start with, as the setup program
// spells them.
extern const char kRegistryRoots[4][20];

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
