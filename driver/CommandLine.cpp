#include "driver/CommandLine.h"

#include <string.h>

// Blanks, quotes, "/", "-" and "=" are below 0x40, so the trail byte of a
// double-byte character is never one of them: a byte scan is safe here.

const char kSetupOptionsHelp[] =
    "Options of the setup program:\n"
    "\n"
    "/S\tsilent: no window at all; the script's defaults, the log and the exit code say what happened\n"
    "/D=FOLDER\tthe destination folder (last on the line, blanks included, no quotes)\n"
    "/LOG=FILE\ta readable log of the run\n"
    "/LANG=CODE\tthe language, of those the setup holds (de, ja, pt-BR ...)\n"
    "/?\tthis list\n"
    "\n"
    "Exit codes: 0 done, 1 failed (rolled back), 2 cancelled, 3 setup file damaged or incomplete, "
    "4 another setup is running, 5 bad command line, 6 a newer version is installed.";

const char* ExitCodeMeaning(int code) {
  switch (code) {
    case SETUP_EXIT_DONE: return "done";
    case SETUP_EXIT_FAILED: return "failed; what was changed is rolled back";
    case SETUP_EXIT_CANCELLED: return "cancelled by the user; rolled back";
    case SETUP_EXIT_DAMAGED: return "the setup file is damaged or incomplete";
    case SETUP_EXIT_RUNNING: return "another setup is running";
    case SETUP_EXIT_BAD_COMMAND_LINE: return "bad command line";
    case SETUP_EXIT_DOWNGRADE: return "a newer version is installed; nothing was changed";
    default: return "unknown";
  }
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// name (length n) equals word, whatever the case of A-Z.
bool SameName(const char* name, size_t n, const char* word) {
  if (strlen(word) != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (Lower(name[i]) != Lower(word[i])) return false;
  return true;
}

// The first problem is the one told; the rest of the line is still read,
// so that a silent run stays silent whatever else it was given.
void SetProblem(SetupCommandLine* out, const char* what, const char* text, size_t n) {
  if (out->Problem[0]) return;
  const size_t lead = strlen(what);
  size_t room = sizeof out->Problem - 1 - lead;
  if (n > room) n = room;
  memcpy(out->Problem, what, lead);
  memcpy(out->Problem + lead, text, n);
  out->Problem[lead + n] = '\0';
}

// text without blanks at its end and, when it is wholly quoted, without the
// quotes, into out; 0 when empty or too long.
int TakeValue(const char* text, size_t n, char* out) {
  while (n && IsBlank(text[n - 1])) --n;
  if (n >= 2 && text[0] == '"' && text[n - 1] == '"') {
    ++text;
    n -= 2;
  }
  // a path of 260 characters at most, whatever bytes they take
  if (n == 0 || n >= kCommandLinePath || MbcsLength(text, n) >= 260) return 0;
  memcpy(out, text, n);
  out[n] = '\0';
  return 1;
}

// What follows the option at end: one blank, then the rest of the line.
const char* RestAfter(const char* end) { return *end ? end + 1 : end; }

}  // namespace

int ParseSetupCommandLine(const char* line, SetupCommandLine* out) {
  memset(out, 0, sizeof *out);
  if (!line) return 1;
  const char* p = line;
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (!*p) return out->Problem[0] ? 0 : 1;
    // One token: up to an unquoted blank; the quotes go.
    const char* start = p;
    char token[1024];
    size_t n = 0;
    bool quoted = false;
    for (; *p && (quoted || !IsBlank(*p)); ++p) {
      if (*p == '"') {
        quoted = !quoted;
        continue;
      }
      if (n + 1 >= sizeof token) {
        SetProblem(out, "too long: ", start, 40);
        return 0;  // no telling where it ends
      }
      token[n++] = *p;
    }
    token[n] = '\0';
    const char* end = p;  // the raw end of the token

    if (n < 2 || (token[0] != '/' && token[0] != '-')) {
      SetProblem(out, "", start, static_cast<size_t>(end - start));
      continue;
    }
    const char* name = token + 1;
    const char* equals = strchr(name, '=');
    const size_t nameLength = equals ? static_cast<size_t>(equals - name) : strlen(name);

    if (!equals && SameName(name, nameLength, "S")) {
      out->Silent = 1;
    } else if (!equals && SameName(name, nameLength, "?")) {
      out->Help = 1;
    } else if (equals && SameName(name, nameLength, "LOG")) {
      if (!TakeValue(equals + 1, strlen(equals + 1), out->LogPath)) {
        SetProblem(out, "no usable file after ", start, static_cast<size_t>(end - start));
        continue;
      }
      out->HasLog = 1;
    } else if (equals && SameName(name, nameLength, "LANG")) {
      const char* code = equals + 1;
      size_t length = strlen(code);
      bool usable = length > 0 && length < sizeof out->Language;
      for (size_t i = 0; usable && i < length; ++i)
        usable = (code[i] >= 'a' && code[i] <= 'z') || (code[i] >= 'A' && code[i] <= 'Z') || code[i] == '-' ||
                 code[i] == '_';
      if (!usable) {
        SetProblem(out, "no language code after ", start, static_cast<size_t>(end - start));
        continue;
      }
      memcpy(out->Language, code, length + 1);
    } else if (equals && SameName(name, nameLength, "D")) {
      // The rest of the line, blanks included; a token quoted as a whole
      // ("/D=C:\My App") ends where its quotes end.
      const char* rawEquals = strchr(start, '=');
      const bool wholeQuoted = start[0] == '"';
      const char* value = wholeQuoted ? equals + 1 : rawEquals + 1;
      const size_t length = wholeQuoted ? strlen(equals + 1) : strlen(rawEquals + 1);
      if (!TakeValue(value, length, out->Destination)) {
        SetProblem(out, "no usable folder after ", "/D=", 3);
        if (!wholeQuoted) return 0;
        continue;
      }
      out->HasDestination = 1;
      if (!wholeQuoted) return out->Problem[0] ? 0 : 1;
    } else if (!equals && SameName(name, nameLength, "joinsplitparts")) {
      out->JoinSplitParts = RestAfter(end);
      return out->Problem[0] ? 0 : 1;
    } else if (!equals && SameName(name, nameLength, "originalsourcedirlocation")) {
      out->OriginalSourceDir = RestAfter(end);
      return out->Problem[0] ? 0 : 1;
    } else {
      SetProblem(out, "", start, static_cast<size_t>(end - start));
    }
  }
}

int FormatPassedOptions(const SetupCommandLine& options, char* out, size_t size) {
  if (size == 0) return 0;
  out[0] = '\0';
  size_t at = 0;
  const char* parts[4][2] = {
      {options.Silent ? " /S" : "", ""},
      {options.HasLog ? " \"/LOG=" : "", options.HasLog ? options.LogPath : ""},
      {options.Language[0] ? " \"/LANG=" : "", options.Language},
      {options.HasDestination ? " \"/D=" : "", options.HasDestination ? options.Destination : ""},
  };
  for (int i = 0; i < 4; ++i) {
    if (!parts[i][0][0]) continue;
    const char* pieces[3] = {parts[i][0], parts[i][1], i ? "\"" : ""};
    for (const char* piece : pieces) {
      const size_t n = strlen(piece);
      if (at + n + 1 > size) {
        out[0] = '\0';
        return 0;
      }
      memcpy(out + at, piece, n);
      at += n;
    }
  }
  out[at] = '\0';
  return 1;
}
