// Reading an uninstall log for its replay: the lines newest first, and what
// each one records. Portable: no platform headers, so the parsing of these
// outside bytes runs under the host sanitizers and the fuzzer too.
#pragma once
#include <stddef.h>

enum LogRecordKind {
  LOGRECORD_OTHER,       // no known tag (an empty line too): passed over
  LOGRECORD_FILE,        // FileCreated=path
  LOGRECORD_DIRECTORY,   // DirectoryCreated=path
  LOGRECORD_INI_ENTRY,   // IniFileEntryAdded=file,section,key (the key may hold commas)
  LOGRECORD_REGISTRY,    // SysRegSectionAdded=ROOT/key path
  LOGRECORD_DLL,         // DllRegistered=path
  LOGRECORD_REGISTRY_IF_EMPTY,  // SysRegKeyIfEmpty=ROOT/key path: removed only when nothing is in it
  LOGRECORD_MALFORMED,   // a known tag whose value lacks its separators: the replay stops
  // A new kind goes above MALFORMED, with its row below and its undo in the
  // replay (the build fails until both are there).
  LOGRECORD_KIND_COUNT
};

// How a record's value is taken apart.
enum LogRecordFields {
  LOGFIELDS_NONE,      // no tag: never parsed
  LOGFIELDS_PATH,      // Path: the whole value
  LOGFIELDS_INI,       // Path, Section, Key at the first two commas
  LOGFIELDS_REGISTRY,  // Root, KeyPath at the first "/"
};

struct LogRecordRow {
  const char* Tag;  // "=" included
  LogRecordKind Kind;
  LogRecordFields Fields;
};

// One row per kind, at its kind. The logger writes these tags and the
// parser tries every row that has one: logs already written must keep
// replaying.
inline constexpr LogRecordRow kLogRecordRows[] = {
    {nullptr, LOGRECORD_OTHER, LOGFIELDS_NONE},
    {"FileCreated=", LOGRECORD_FILE, LOGFIELDS_PATH},
    {"DirectoryCreated=", LOGRECORD_DIRECTORY, LOGFIELDS_PATH},
    {"IniFileEntryAdded=", LOGRECORD_INI_ENTRY, LOGFIELDS_INI},
    {"SysRegSectionAdded=", LOGRECORD_REGISTRY, LOGFIELDS_REGISTRY},
    {"DllRegistered=", LOGRECORD_DLL, LOGFIELDS_PATH},
    {"SysRegKeyIfEmpty=", LOGRECORD_REGISTRY_IF_EMPTY, LOGFIELDS_REGISTRY},
    {nullptr, LOGRECORD_MALFORMED, LOGFIELDS_NONE},
};
constexpr bool EveryLogRecordRowAtItsKind() {
  int i = 0;
  for (const LogRecordRow& row : kLogRecordRows)
    if (row.Kind != i++ || (row.Tag == nullptr) != (row.Fields == LOGFIELDS_NONE)) return false;
  return i == LOGRECORD_KIND_COUNT;
}
static_assert(EveryLogRecordRowAtItsKind(), "one row per kind, at its kind, with a tag where it has fields");

// One line taken apart in place. Path is the value of the file, folder and
// DLL records and the INI file; Section and Key belong to INI entries; Root
// and KeyPath to registry records. Unused fields are null.
struct LogRecord {
  LogRecordKind Kind;
  char* Path;
  char* Section;
  char* Key;
  char* Root;
  char* KeyPath;
};

// The key under which each Add/Remove Programs entry is, "/" between names:
// the installer writes an entry there and the replay knows it by it.
inline constexpr char kUninstallEntryKeys[] = "Software/Microsoft/Windows/CurrentVersion/Uninstall/";

// The tag that starts each kind of record, "=" included; null for
// LOGRECORD_OTHER and LOGRECORD_MALFORMED.
const char* LogRecordTag(LogRecordKind kind);

// The log's code-page line, "CodePage=N" and its line feed, written into
// out (room for LOG_CODEPAGE_LINE_BYTES); returns its length.
enum { LOG_CODEPAGE_LINE_BYTES = 24 };
size_t FormatLogCodePageLine(unsigned codePage, char* out);
// 1 when line is a code-page line.
int IsLogCodePageLine(const char* line);

// The rollback journal's value records start with one of these, then
// fields after tabs; its file records start with a path, and no path
// starts with "*".
const char kJournalIniRecord[] = "*I";
const char kJournalRegistryValueRecord[] = "*R";
const char kJournalCreatedKeyRecord[] = "*K";

// Splits line (zero-terminated, written to) by its tag, compared
// case-sensitively at its start; separators are found multibyte-aware.
LogRecordKind ParseLogRecord(char* line, LogRecord* record);

// The code page the log names in its "CodePage=" line (the writer puts one
// before its first line that is not ASCII), or 0 when it names none: then
// every line is ASCII, or the log comes from a writer that wrote in the
// machine's ANSI code page without saying so.
int FindLogCodePage(const char* text);

// Walks a log text newest line first. text holds size bytes plus a zero
// byte; Start cuts the text after its last line feed and returns 0 when
// there is none (not one complete line). Next then hands out each line,
// terminated in place, from the last to the first, and returns 0 when none
// is left. A line holding a zero byte comes out with HasZeroByte set: it
// would name another path than the one logged.
class CLogLinesBackward {
 public:
  int Start(char* text, size_t size);
  int Next(char** line, int* hasZeroByte);
  // The path of the next file record (lines with a zero byte passed over),
  // or null when none is left.
  char* NextFile();

 private:
  char* m_Text = nullptr;
  size_t m_End = 0;
  bool m_Done = true;
};

// The log of an installation into a folder that holds an earlier one's: the
// earlier log's lines first, then this run's, each distinct line once, where
// it first stands. So the replay undoes every version's changes, newest
// first, and a folder still goes after what was made in it. Empty lines and
// an earlier log's last line without its line feed (the replay never reads
// it) are left out. A new buffer (malloc) of *size bytes, or null when
// memory runs out.
char* MergeLogs(const char* earlier, size_t earlierSize, const char* current, size_t currentSize,
                size_t* size);
