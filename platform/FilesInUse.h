// Files of an installation that other programs hold, and those programs:
// found before the first change, asked to close, and what stays in use
// finished at the next restart.
#pragma once
#include <stdlib.h>
#include <windows.h>

#include "common/Mbcs.h"
#include "platform/FrontEnd.h"

// 1 when another process holds the file open the way Windows then refuses
// to delete or replace it: without delete sharing.
int IsFileOpenElsewhere(const char* path);
// 1 when the file cannot be overwritten now: open elsewhere as above, or
// the image of a running program, which Windows lets rename but not
// overwrite or delete.
int IsFileInUse(const char* path);

// Deletes path, its read-only attribute cleared first (and put back when the
// deletion fails). 1 when it is gone or was never there.
int DeleteEvenReadOnly(const char* path);

// Deletion (newPath null) or a move of path at the next restart. It needs
// the rights to write the system's list of pending renames.
int ScheduleAtRestart(const char* path, const char* newPath);
// 1 when this run may add to that list.
int CanScheduleAtRestart();
// Takes the move of path to newPath back off that list (a rollback's swap
// must not happen at the restart): 2 when it was there, 1 when it was not,
// 0 when the list cannot be changed.
int CancelScheduledMove(const char* path, const char* newPath);

// A process's image from its module list, where Windows lacks
// QueryFullProcessImageName (XP). 0 when it cannot be read.
int ProcessImageFromModules(DWORD processId, char* image);

// How a run treats programs that hold its files (from the command line).
struct ProgramClosing {
  int Close;   // a run without questions closes them
  int Force;   // those that do not close when asked are ended
  int AskYes;  // the wizard's question takes "close" as its default
};
void SetProgramClosing(const ProgramClosing& closing);
const ProgramClosing& GetProgramClosing();

struct ProgramInUse {
  DWORD ProcessId;
  char Name[PATH_BYTES];  // its image's file name
  char Title[256];        // its first visible window's title, or ""
};

class CProgramsInUse {
 public:
  ~CProgramsInUse() { free(m_Programs); }
  // The programs that hold any of the files: those the Restart Manager
  // names, where it answers, and in any case those whose image is one of
  // them. Each is logged. Returns how many.
  int Find(const char* const* files, int count);
  int Count() const { return m_Count; }
  const ProgramInUse& At(int i) const { return m_Programs[i]; }
  // "name: title" lines of every program, into a new string (null: none).
  char* Describe() const;
  // Asks each to close (the Restart Manager's shutdown where it named
  // them, then WM_CLOSE to the top-level windows of those still running)
  // and waits up to waitMs for them; with force, those still running are
  // ended. Returns how many still run.
  int CloseAll(DWORD waitMs, int force);

 private:
  void Add(DWORD processId);

  ProgramInUse* m_Programs = nullptr;
  int m_Count = 0, m_Capacity = 0;
  int m_NamedByRestartManager = 0;
};

// At the end of the run, whatever its outcome: the programs the Restart
// Manager closed that registered for it are started again, and its session
// ends.
void RestartClosedPrograms();

// Before the first change: the files that exist and are held (open
// elsewhere, or a running program's image), and the programs that hold
// them, named to reports and the log and closed as the run says (or the
// person answers: close, leave them, or cancel). RUN_DONE to go on,
// RUN_CANCELLED; *stillHeld: whether any of the files is held afterwards.
// question: its text, with one %s for the programs' names.
RunResult CloseProgramsUsing(const char* const* files, int count, CFrontEnd* reports, const char* question,
                             const char* caption, int* stillHeld);
// The question's English text, for a table without it.
extern const char kProgramsInUseQuestion[];
