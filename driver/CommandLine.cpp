#include "driver/CommandLine.h"

#include <string.h>

// Blanks, quotes, "/", "-" and "=" are below 0x40, so the trail byte of a
// double-byte character is never one of them: a byte scan is safe here.

const char kSetupOptionsHelp[] =
    "Options of the setup program:\n"
    "\n"
    "/S\tsilent: no window at all; the script's defaults, the log and the exit code say what happened\n"
    "/PASSIVE\tprogress only: a small window with Cancel, no question; otherwise as /S (which wins)\n"
    "/D=FOLDER\tthe destination folder (last on the line, blanks included, no quotes)\n"
    "/LOG=FILE\ta readable log of the run\n"
    "/LANG=CODE\tthe language, of those the setup holds (de, ja, pt-BR ...)\n"
    "/ALLUSERS\tinstall for all users (asks for administrator rights), where the setup lets you choose\n"
    "/CURRENTUSER\tinstall just for you, where the setup lets you choose\n"
    "/COMPONENTS=A,B\tinstall these of the setup's components (and those always installed), no others\n"
    "/TASKS=X,Y\tdo these of the setup's additional tasks, no others\n"
    "/?\tthis list\n"
    "/CLOSEAPPLICATIONS\tthe wizard closes the programs that use the files, unless told not to\n"
    "/NOCLOSEAPPLICATIONS\t/S and /PASSIVE leave those programs running (a restart may be needed)\n"
    "/FORCECLOSEAPPLICATIONS\tthose that do not close when asked are ended\n"
    "/NORESTART\taccepted: the setup never restarts the computer itself\n"
    "\n"
    "Exit codes: 0 done, 1 failed (rolled back), 2 cancelled, 3 setup file damaged or incomplete, "
    "4 another setup is running, 5 bad command line, 6 a newer version is installed, "
    "7 files in use (run it again once the programs are closed), 8 administrator rights refused or missing "
    "(nothing changed), 3010 done; restart to finish.";

const char* ExitCodeMeaning(int code) {
  switch (code) {
    case SETUP_EXIT_DONE: return "done";
    case SETUP_EXIT_FAILED: return "failed; what was changed is rolled back";
    case SETUP_EXIT_CANCELLED: return "cancelled by the user; rolled back";
    case SETUP_EXIT_DAMAGED: return "the setup file is damaged or incomplete";
    case SETUP_EXIT_RUNNING: return "another setup is running";
    case SETUP_EXIT_BAD_COMMAND_LINE: return "bad command line";
    case SETUP_EXIT_DOWNGRADE: return "a newer version is installed; nothing was changed";
    case SETUP_EXIT_FILES_IN_USE: return "files in use could not be replaced or removed";
    case SETUP_EXIT_NO_RIGHTS: return "administrator rights were refused or are missing; nothing was changed";
    case SETUP_EXIT_RESTART_NEEDED: return "done; restart to finish";
    default: return "unknown";
  }
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// name (length n) equals word (length w), whatever the case of A-Z.
bool SameName(const char* name, size_t n, const char* word, size_t w) {
  if (w != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (Lower(name[i]) != Lower(word[i])) return false;
  return true;
}

// The options, "=" after those that take a value, in the order of
// OptionId. The first kDashWords are the ones that also count as an option
// after "-" (see IsOptionWord).
const char kOptionNames[] =
    "S\0PASSIVE\0?\0D=\0LOG=\0LANG=\0joinsplitparts\0originalsourcedirlocation\0ALLUSERS\0CURRENTUSER\0"
    "elevatedrun\0COMPONENTS=\0TASKS=\0launchnote=\0CLOSEAPPLICATIONS\0NOCLOSEAPPLICATIONS\0"
    "FORCECLOSEAPPLICATIONS\0NORESTART\0";
enum OptionId {
  OPTION_S, OPTION_PASSIVE, OPTION_HELP, OPTION_D, OPTION_LOG, OPTION_LANG, OPTION_JOIN_SPLIT_PARTS,
  OPTION_ORIGINAL_SOURCE_DIR, OPTION_ALL_USERS, OPTION_CURRENT_USER, OPTION_ELEVATED_RUN, OPTION_COMPONENTS,
  OPTION_TASKS, OPTION_LAUNCH_NOTE, OPTION_CLOSE, OPTION_NO_CLOSE, OPTION_FORCE_CLOSE, OPTION_NO_RESTART,
  kDashWords = OPTION_CLOSE,
};

// The option named name (length n) among the first count: one that takes
// a value only with it (value 1), without (0), or either (-1). -1 when none.
int FindOption(const char* name, size_t n, int value, int count) {
  const char* word = kOptionNames;
  for (int id = 0; id < count; ++id) {
    const size_t w = strlen(word);
    const int takes = word[w - 1] == '=';
    if ((value < 0 || value == takes) && SameName(name, n, word, w - takes)) return id;
    word += w + 1;
  }
  return -1;
}

const char kUnknown[] = "Unknown command-line option: ";

// The first problem is the one told: lead, then at most n bytes of text
// (which goes on to the line's end), cut at a character boundary. The rest
// of the line is still read, so that a silent run stays silent whatever
// else it was given.
void SetProblem(SetupCommandLine* out, const char* lead, const char* text, size_t n) {
  if (out->Problem[0]) return;
  char part[sizeof out->Problem];
  MbcsCopy(part, n < sizeof part ? n + 1 : sizeof part, text);
  const size_t at = strlen(lead);
  memcpy(out->Problem, lead, at);
  MbcsCopy(out->Problem + at, sizeof out->Problem - at, part);
}

// text without blanks at its end and, when it is wholly quoted, without the
// quotes, into out; 0 when empty, too long, or holding a quote (no file
// name does, and it would end the token that passes the value on).
int TakeValue(const char* text, size_t n, char* out) {
  while (n && IsBlank(text[n - 1])) --n;
  if (n >= 2 && text[0] == '"' && text[n - 1] == '"') {
    ++text;
    n -= 2;
    // Windows drops them from a name anyway, and a value passed on keeps none
    while (n && IsBlank(text[n - 1])) --n;
  }
  // a path of 259 characters at most, whatever bytes they take
  if (n == 0 || n >= kCommandLinePath || MbcsLength(text, n) >= 260 || memchr(text, '"', n)) return 0;
  memcpy(out, text, n);
  out[n] = '\0';
  return 1;
}

// What follows the option at end: one blank, then the rest of the line.
const char* RestAfter(const char* end) { return *end ? end + 1 : end; }

// One token from p: up to an unquoted blank, its quotes gone, into token
// (size bytes; what does not fit is passed over and *tooLong set). Returns
// where the token ends.
const char* ReadToken(const char* p, char* token, size_t size, bool* tooLong) {
  size_t n = 0;
  bool quoted = false;
  *tooLong = false;
  for (; *p && (quoted || !IsBlank(*p)); ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (n + 1 < size) {
      token[n++] = *p;
    } else {
      *tooLong = true;
    }
  }
  token[n] = '\0';
  return p;
}

// A word that is an option, not part of a folder: one after "/", which no
// folder name holds, or one of ours after "-" ("My App - Beta" stays).
bool IsOptionWord(const char* p) {
  if (*p == '/') return true;
  if (*p != '-') return false;
  size_t n = 0;
  while (p[1 + n] && !IsBlank(p[1 + n]) && p[1 + n] != '=' && p[1 + n] != '"') ++n;
  return FindOption(p + 1, n, -1, kDashWords) >= 0;
}

// The first option that follows the folder of /D= (outside quotes), or null.
const char* OptionAfter(const char* value) {
  bool quoted = false;
  for (const char* p = value; *p; ++p) {
    if (*p == '"') {
      quoted = !quoted;
    } else if (!quoted && IsBlank(*p) && !IsBlank(p[1]) && IsOptionWord(p + 1)) {
      return p + 1;
    }
  }
  return NULL;
}

size_t WordLength(const char* p) {
  size_t n = 0;
  while (p[n] && !IsBlank(p[n])) ++n;
  return n;
}

// /D= not quoted as a whole takes the rest of the line; where another option
// follows, the line is refused and read on from that option. Returns where
// reading goes on, or null when the line ends here.
const char* TakeDestination(const char* value, SetupCommandLine* out) {
  const char* next = OptionAfter(value);
  if (next) {
    SetProblem(out, "/D= must be the last option, as its folder takes the rest of the line; after it comes ", next,
               WordLength(next));
    return next;
  }
  if (TakeValue(value, strlen(value), out->Destination))
    out->HasDestination = 1;
  else
    SetProblem(out, "No usable folder: /D=", value, strlen(value));
  return NULL;
}

bool IsLanguageCode(const char* code, size_t size) {
  const size_t length = strlen(code);
  bool usable = length > 0 && length < size;
  for (size_t i = 0; usable && i < length; ++i)
    usable = (code[i] >= 'a' && code[i] <= 'z') || (code[i] >= 'A' && code[i] <= 'Z') || code[i] == '-' ||
             code[i] == '_';
  return usable;
}

// A list of names for /COMPONENTS= or /TASKS= into out (size bytes): only
// the bytes a name may hold, commas and blanks, so that it passes on to
// another process as one quoted token. Empty chooses none.
int TakeNameList(const char* value, char* out, size_t size) {
  const size_t n = strlen(value);
  if (n >= size) return 0;
  for (size_t i = 0; i < n; ++i) {
    const char c = value[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
          c == '.' || c == ',' || c == ' '))
      return 0;
  }
  memcpy(out, value, n + 1);
  return 1;
}

}  // namespace

const wchar_t* SkipProgramName(const wchar_t* line) {
  if (!line) return L"";
  bool quoted = false;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"') quoted = !quoted;
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

int ParseSetupCommandLine(const char* line, SetupCommandLine* out) {
  memset(out, 0, sizeof *out);
  if (!line) return 1;
  const char* p = line;
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) return out->Problem[0] ? 0 : 1;
    const char* start = p;
    char token[1024];
    bool tooLong;
    p = ReadToken(p, token, sizeof token, &tooLong);
    const size_t raw = static_cast<size_t>(p - start);  // the token as it stands
    if (tooLong) {
      SetProblem(out, "Option too long: ", start, 40);
      continue;
    }
    if (strlen(token) < 2 || (token[0] != '/' && token[0] != '-')) {
      SetProblem(out, kUnknown, start, raw);
      continue;
    }
    const char* name = token + 1;
    const char* equals = strchr(name, '=');
    const size_t nameLength = equals ? static_cast<size_t>(equals - name) : strlen(name);

    const int id = FindOption(name, nameLength, equals != NULL, OPTION_NO_RESTART + 1);
    switch (id) {
      case OPTION_S:
        out->Display = SETUP_DISPLAY_NONE;
        break;
      case OPTION_PASSIVE:
        // a deployment that also says /S must never see a window
        if (out->Display != SETUP_DISPLAY_NONE) out->Display = SETUP_DISPLAY_PASSIVE;
        break;
      case OPTION_HELP:
        out->Help = 1;
        break;
      case OPTION_LOG:
        if (TakeValue(equals + 1, strlen(equals + 1), out->LogPath))
          out->HasLog = 1;
        else
          SetProblem(out, "No usable file: ", start, raw);
        break;
      case OPTION_LANG:
        if (IsLanguageCode(equals + 1, sizeof out->Language))
          strcpy(out->Language, equals + 1);
        else
          SetProblem(out, "No language code: ", start, raw);
        break;
      case OPTION_D:
        // A token quoted as a whole ("/D=C:\My App") ends where its quotes end.
        if (start[0] == '"') {
          if (TakeValue(equals + 1, strlen(equals + 1), out->Destination))
            out->HasDestination = 1;
          else
            SetProblem(out, "No usable folder: ", start, raw);
          break;
        }
        p = TakeDestination(strchr(start, '=') + 1, out);
        if (!p) return out->Problem[0] ? 0 : 1;
        break;
      case OPTION_ALL_USERS:
      case OPTION_CURRENT_USER: {
        const int choice = id == OPTION_ALL_USERS ? SETUP_SCOPE_ALL_USERS : SETUP_SCOPE_CURRENT_USER;
        // both would leave a deployment guessing where it went
        if (out->ScopeChoice && out->ScopeChoice != choice)
          SetProblem(out, "/ALLUSERS and /CURRENTUSER exclude each other: ", start, raw);
        out->ScopeChoice = choice;
        break;
      }
      case OPTION_COMPONENTS:
      case OPTION_TASKS: {
        const bool tasks = id == OPTION_TASKS;
        if (TakeNameList(equals + 1, tasks ? out->Tasks : out->Components, sizeof out->Tasks))
          (tasks ? out->HasTasks : out->HasComponents) = 1;
        else
          SetProblem(out, "No list of names (letters, digits, \"_\", \"-\", \".\", separated by commas): ", start, raw);
        break;
      }
      case OPTION_ELEVATED_RUN:
        out->ElevatedRun = 1;
        break;
      case OPTION_LAUNCH_NOTE: {
        const char* note = equals + 1;
        const size_t n = strlen(note);
        bool hex = n > 0 && n < sizeof out->LaunchNote;
        for (size_t i = 0; hex && i < n; ++i)
          hex = (note[i] >= '0' && note[i] <= '9') || (note[i] >= 'a' && note[i] <= 'f') || (note[i] >= 'A' && note[i] <= 'F');
        if (hex)
          strcpy(out->LaunchNote, note);
        else
          SetProblem(out, kUnknown, start, raw);
        break;
      }
      case OPTION_JOIN_SPLIT_PARTS:
        out->JoinSplitParts = RestAfter(p);
        return out->Problem[0] ? 0 : 1;
      case OPTION_ORIGINAL_SOURCE_DIR:
        out->OriginalSourceDir = RestAfter(p);
        return out->Problem[0] ? 0 : 1;
      case OPTION_CLOSE:
        out->CloseApplications = 1;
        break;
      case OPTION_NO_CLOSE:
        out->NoCloseApplications = 1;
        break;
      case OPTION_FORCE_CLOSE:
        out->ForceCloseApplications = 1;
        break;
      case OPTION_NO_RESTART:
        out->NoRestart = 1;
        break;
      default:
        SetProblem(out, kUnknown, start, raw);
    }
  }
}

namespace {

struct OptionsText {
  char* out;
  size_t size;
  size_t at;
};

// A switch as a token of its own, or (with value) an option and its value
// as one quoted token; false when it does not fit.
bool Put(OptionsText* text, const char* option, const char* value = NULL) {
  // a quote inside would end the token early, and what follows it would
  // be read as options of the next process
  if (value && strchr(value, '"')) return false;
  const char* pieces[3] = {option, value ? value : "", value ? "\"" : ""};
  for (const char* piece : pieces) {
    const size_t n = strlen(piece);
    if (text->at + n + 1 > text->size) return false;
    memcpy(text->out + text->at, piece, n);
    text->at += n;
  }
  return true;
}

}  // namespace

int FormatPassedOptions(const SetupCommandLine& options, char* out, size_t size) {
  if (size == 0) return 0;
  OptionsText text = {out, size, 0};
  // the display mode, then how programs in use are treated, then the values
  const bool fits =
      Put(&text, options.Display == SETUP_DISPLAY_NONE      ? " /S"
                 : options.Display == SETUP_DISPLAY_PASSIVE ? " /PASSIVE"
                                                            : "") &&
      (!options.CloseApplications || Put(&text, " /CLOSEAPPLICATIONS")) &&
      (!options.NoCloseApplications || Put(&text, " /NOCLOSEAPPLICATIONS")) &&
      (!options.ForceCloseApplications || Put(&text, " /FORCECLOSEAPPLICATIONS")) &&
      (!options.HasLog || Put(&text, " \"/LOG=", options.LogPath)) &&
      (!options.Language[0] || Put(&text, " \"/LANG=", options.Language)) &&
      Put(&text, options.ScopeChoice == SETUP_SCOPE_ALL_USERS      ? " /ALLUSERS"
                 : options.ScopeChoice == SETUP_SCOPE_CURRENT_USER ? " /CURRENTUSER"
                                                                   : "") &&
      (!options.HasComponents || Put(&text, " \"/COMPONENTS=", options.Components)) &&
      (!options.HasTasks || Put(&text, " \"/TASKS=", options.Tasks)) &&
      (!options.HasDestination || Put(&text, " \"/D=", options.Destination));
  out[fits ? text.at : 0] = '\0';
  return fits;
}

int ResolveInstallScope(int setting, int choice, int answer) {
  if (setting != 2) return setting == 1 ? 1 : 0;
  if (choice == SETUP_SCOPE_ALL_USERS) return 0;
  if (choice == SETUP_SCOPE_CURRENT_USER) return 1;
  return answer == 1 ? 1 : 0;
}
