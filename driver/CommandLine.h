// The setup program's command line and its exit codes. Options are tokens,
// quoted or not, named without regard to case, after "/" or "-"; they are
// never found inside other text. Portable: no platform headers.
#pragma once
#include <stddef.h>

#include "common/Mbcs.h"

// The exit codes, the same in every mode (docs/quillset.md lists them).
enum SetupExitCode {
  SETUP_EXIT_DONE = 0,            // installed or uninstalled
  SETUP_EXIT_FAILED = 1,          // failed; what was installed is rolled back
  SETUP_EXIT_CANCELLED = 2,       // cancelled by the user; rolled back
  SETUP_EXIT_DAMAGED = 3,         // the setup file is damaged or incomplete
  SETUP_EXIT_RUNNING = 4,         // another setup is running
  SETUP_EXIT_BAD_COMMAND_LINE = 5,
  SETUP_EXIT_DOWNGRADE = 6,       // a newer version is installed; a silent run leaves it
  SETUP_EXIT_FILES_IN_USE = 7,    // files in use could not be replaced or removed
  SETUP_EXIT_NO_RIGHTS = 8,       // administrator rights were refused or are missing; nothing changed
  SETUP_EXIT_RESTART_NEEDED = 3010,  // done; files in use are replaced or removed at the restart
};

enum { kCommandLinePath = PATH_BYTES };

// Who watches the run, as the command line asks (values of DisplayMode).
enum SetupDisplay {
  SETUP_DISPLAY_FULL = 0,     // the wizard
  SETUP_DISPLAY_PASSIVE = 1,  // /PASSIVE: progress only
  SETUP_DISPLAY_NONE = 2,     // /S: nothing at all, and it wins over /PASSIVE
};

// Who a setup whose script lets the user choose installs for (ScopeChoice).
enum SetupScopeChoice {
  SETUP_SCOPE_ASK = 0,           // neither switch: the wizard asks, a run without it takes all users
  SETUP_SCOPE_ALL_USERS = 1,     // /ALLUSERS
  SETUP_SCOPE_CURRENT_USER = 2,  // /CURRENTUSER
};

struct SetupCommandLine {
  int Display;       // SETUP_DISPLAY_*
  int Help;          // /?
  int HasDestination;
  char Destination[kCommandLinePath];  // /D=, the rest of the line (no other option may follow)
  int HasLog;
  char LogPath[kCommandLinePath];      // /LOG=
  char Language[16];                   // /LANG=, a table's code ("de", "pt-BR"); "" when not given
  // The two options of a split installation's chain; each takes the rest
  // of the line after it and one blank (null when absent).
  const char* JoinSplitParts;
  const char* OriginalSourceDir;
  // Why the line was refused, as the user reads it: the token as it
  // stands, a value that cannot be used, an option after /D=.
  char Problem[192];
  // Programs that use the files: the wizard's question defaults to closing
  // them, /S and /PASSIVE leave them running, those that do not close when
  // asked are ended; the setup never restarts the computer (/NORESTART is
  // only accepted).
  int CloseApplications;
  int NoCloseApplications;
  int ForceCloseApplications;
  int NoRestart;
  int ScopeChoice;  // SETUP_SCOPE_*
  // -elevatedrun: started by this program through the consent prompt. It
  // grants nothing; it only keeps that run from asking again.
  int ElevatedRun;
  // /COMPONENTS= and /TASKS=: the components and tasks chosen, names
  // separated by commas; the others are not (fixed ones always are). The
  // script decides which names are known.
  int HasComponents;
  char Components[512];
  int HasTasks;
  char Tasks[512];
  // -launchnote=ID (hex digits): the elevated run tells the process that
  // started it, through the note of that id, that the finish page's launch
  // box was ticked; "" when none was made.
  char LaunchNote[24];
};

// 1 when every token is known; 0 with Problem naming the first that is not.
// The whole line is read in either case, so /S (or /PASSIVE) anywhere keeps
// a run silent (or without questions).
int ParseSetupCommandLine(const char* line, SetupCommandLine* out);

// The arguments of a whole command line as the system hands it over: the
// program's name skipped by the system's rules (quotes toggle, and outside
// them a blank or a tab ends it; no escapes), then the blanks after it.
const wchar_t* SkipProgramName(const wchar_t* line);

// The options a split installation's next process gets from this one
// (/S or /PASSIVE, /LOG=, /LANG=, /COMPONENTS=, /TASKS=, /D=, each quoted as one token, blank-separated, with a leading
// blank), so that they come before the chain's own option. 0 when they do
// not fit into size bytes, or a value holds a quote that would end its token.
int FormatPassedOptions(const SetupCommandLine& options, char* out, size_t size);

// Who the run installs for, as SetupState::InstallScope counts (0 all
// users, 1 the current user, 2 the user chooses): the script's setting
// decides, except that where it lets the user choose, the command line's
// choice comes first, then the answer to the question (2 when nobody was
// asked), then all users.
int ResolveInstallScope(int setting, int choice, int answer);

// What an exit code means, in a few words, for the run log.
const char* ExitCodeMeaning(int code);

// The text of the /? box.
extern const char kSetupOptionsHelp[];
