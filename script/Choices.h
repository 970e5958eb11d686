// The components ([Components]) and tasks ([Tasks]) a script offers, and
// what this run makes of them. An action section given for one of them
// ([Files:docs], [Shortcuts:desktopicon]) runs only when it is chosen.
// Portable: no platform headers.
#pragma once
#include <stddef.h>

struct SetupChoice {
  char* Name;         // as in the script; a section header names it after a colon
  char* Description;  // shown beside its checkbox
  int Task;           // 1 for a line of [Tasks], 0 for one of [Components]
  int Fixed;          // "fixed": always installed, shown checked and greyed
  int Unchecked;      // "unchecked": offered, not chosen unless asked for
  int Chosen;         // installed by this run
  unsigned long long Bytes;  // what its [Files:name] lines store; 0 for a task
};

class CFileParser;

// The longest name a component or task may have, in bytes.
enum { kChoiceNameMax = 64 };

// A name is 1 to kChoiceNameMax of A-Z a-z 0-9 "_" "-" "." : what a section
// header can carry after its colon, a command line can list between commas
// and every code page writes alike.
int IsChoiceName(const char* name, size_t length);

// A header without its brackets, split where a choice is named:
// "Files:docs" gives the section "Files" (sectionLength 4) and "docs"; a
// header without a colon gives the whole of it and null.
const char* SplitChoiceHeader(const char* header, size_t* sectionLength);

// Why a line of [Components] or [Tasks] does not read.
enum ChoiceLineProblem {
  CHOICE_LINE_OK = 0,
  CHOICE_NO_NAME,         // nothing before the first comma
  CHOICE_BAD_NAME,        // a byte no name may hold, or too long
  CHOICE_NO_DESCRIPTION,  // no comma, or nothing after it
  CHOICE_OPEN_QUOTE,      // a quoted description without its closing quote
  CHOICE_AFTER_QUOTE,     // text between the closing quote and the next comma
  CHOICE_UNKNOWN_FLAG,
  CHOICE_FIXED_UNCHECKED, // both: a fixed one is always chosen
};

// "name, description[, flags]". Blanks around each field are left out. A
// description holding a comma is written in double quotes (which are not
// part of it). The flags are words separated by blanks or commas: "fixed"
// and "unchecked", case-sensitive like every keyword of the script.
struct ChoiceLine {
  const char* Name;
  size_t NameLength;
  const char* Description;
  size_t DescriptionLength;
  int Fixed;
  int Unchecked;
  int Problem;    // ChoiceLineProblem
  size_t Column;  // 1-based byte column of the problem
  size_t Length;  // bytes of the offending text there (a flag, a name)
};
// 1 when the line reads; 0 with Problem and Column set. Points into line.
int ReadChoiceLine(const char* line, ChoiceLine* out);

// [Components] then [Tasks] of project as a new array (free it with
// FreeChoices), in the script's order, each chosen unless "unchecked".
// Lines that do not read and names given before are passed over (the
// command refuses them). Null with *count 0 when there are none, with
// *count -1 when memory runs out.
SetupChoice* ReadScriptChoices(const CFileParser& project, int* count);
void FreeChoices(SetupChoice* choices, int count);

// The choice named so among the components (task 0) or tasks (task 1),
// compared without regard to the case of A-Z as options are; null.
SetupChoice* FindChoice(SetupChoice* choices, int count, int task, const char* name, size_t length);

// A list of names separated by commas (blanks around them allowed) chooses
// among the components (task 0) or tasks (task 1): those named and the fixed
// ones are chosen, the others not. 0, nothing changed and the first name
// that is none of them in unknown, when one is unknown.
int ChooseByList(SetupChoice* choices, int count, int task, const char* list, char* unknown, size_t unknownSize);

// What an installed version recorded: the names it offered and those chosen
// of them (lists as above). A choice it offered takes its choice again; one
// it did not offer keeps its default; a fixed one stays chosen.
void ApplyRecordedChoices(SetupChoice* choices, int count, const char* offered, const char* chosen);

// The names of every choice (chosenOnly 0) or of the chosen ones, separated
// by commas, into out; 0 when they do not fit.
int FormatChoiceNames(const SetupChoice* choices, int count, int chosenOnly, char* out, size_t size);
