#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/PathText.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "efs/EntryExtraction.h"
#include "engine/InstallProgress.h"
#include "engine/SectionSupport.h"
#include "engine/Sections.h"
#include "platform/FileSystem.h"
#include "platform/FilesInUse.h"
#include "platform/RunLog.h"
#include "platform/TextEncoding.h"
#include "script/ActionSections.h"
#include "script/PlaceholderTokens.h"
#include "script/Placeholders.h"
#include "uninstall/LogLines.h"
#include "uninstall/RollbackJournal.h"

// The stored file of a line: the file name of its destination (drive and
// folders removed), or, where the lines name their entries, of its source,
// blanks around it left out. A new string, or null without memory.
static char* EntryNameOf(const FilesLine& fields, const char* destination) {
  const char* name = PathFileName(destination);
  size_t n = strlen(name);
  if (SetupState::Efs.LinesNameEntries()) {
    const char* start = fields.Source;
    const char* end = start + fields.SourceLength;
    while (start < end && (*start == ' ' || *start == '\t')) ++start;
    while (end > start && (end[-1] == ' ' || end[-1] == '\t')) --end;
    for (const char* p = start; p < end; p = MbcsNext(p))
      if (*p == '\\' || *p == '/') start = p + 1;
    name = start;
    n = (size_t)(end - start);
  }
  char* entry = (char*)malloc(n + 1);
  if (!entry) return NULL;
  memcpy(entry, name, n);
  entry[n] = '\0';
  return entry;
}

// A line the installer cannot read (no comma, blank, no memory, an unknown
// placeholder) ends the section with a message instead of going on silently.
static RunResult FailLine() {
  SetupState::Translations.ShowMessage(NULL, TK_UNSPECIFIED_ERROR_OCCURED, TK_ERROR, MB_ICONERROR);
  return RUN_FAILED;
}

static int g_ReplacedAtRestart;

int FilesReplacedAtRestart() { return g_ReplacedAtRestart; }

char** ExistingFileDestinations(int* found) {
  *found = 0;
  int32_t count = 0;
  char section[256];
  for (int k = 0; ChosenSectionName(kActionSections[SECTION_FILES].Name, k, section, sizeof section); ++k)
    count += SetupState::Project.GetLineCount(section);
  char** files = count > 0 ? static_cast<char**>(calloc(count, sizeof(char*))) : NULL;
  for (int k = 0; files && ChosenSectionName(kActionSections[SECTION_FILES].Name, k, section, sizeof section); ++k)
  for (CSectionLines lines(SECTION_FILES, section);;) {
    const SectionLinesStatus got = lines.Next();
    if (got == LINES_END) break;
    char* destination = got == LINES_READY ? strdup(lines.Fields.Field[1]) : NULL;
    const DWORD attributes = destination ? GetFileAttributesA(destination) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      files[(*found)++] = destination;
    else
      free(destination);
  }
  return files;
}

static void ShowFileInUse(const char* path) {
  static const char kEnglish[] =
      "The file %s is in use by another program and cannot be replaced.\nInstallation will be aborted.";
  char* format = SetupState::Translations.GetStringOr(TK_FILE_IN_USE_CANNOT_BE_REPLACED, kEnglish);
  char text[2048];
  SafeFormat(text, sizeof text, format ? format : kEnglish, &path, 1);
  free(format);
  ShowSectionError(text);
}

// A file another program holds open can be neither overwritten nor, on
// Windows, renamed: the new one is written beside it and takes its place at
// the restart. Where that cannot be scheduled the run stops (rolled back).
static int ReplacementBeside(const char* destination, char* beside) {
  const size_t n = strlen(destination);
  if (n + sizeof ".new" > PATH_BYTES || !CanScheduleAtRestart()) {
    RunLogLine("File in use, and its replacement at the restart cannot be scheduled", destination);
    ShowFileInUse(destination);
    return 0;
  }
  memcpy(beside, destination, n);
  strcpy(beside + n, ".new");
  return 1;
}

// A file in use that Windows lets rename (a running program's own file)
// goes aside and the new one takes its place at once; the old one goes at
// the restart, or, without the rights to schedule that, with the
// uninstaller, whose log names it. Else ReplacementBeside. RUN_DONE with
// the file to write into target[PATH_BYTES].
static RunResult MakeRoomForHeld(const char* destination, char* target) {
  char aside[PATH_BYTES];
  if (SetupState::UninstallLog.KeepOriginal(destination, aside) && aside[0]) {
    if (!SetupState::UninstallLog.LogFileCreated(aside)) {
      CUninstallLogger::ShowWriteError();
      return RUN_FAILED;
    }
    if (CanScheduleAtRestart()) ++g_ReplacedAtRestart;
    RunLogLine("File in use: renamed aside, the new one put in its place", destination);
    strcpy(target, destination);
    return RUN_DONE;
  }
  return ReplacementBeside(destination, target) ? RUN_DONE : RUN_FILES_IN_USE;
}

// After the new file is written beside: the swap at the restart, noted
// first so that a rollback can call it off, and the destination logged, as
// it holds the new file after the restart.
static RunResult SwapAtRestart(const char* beside, const char* destination) {
  if (!SetupState::UninstallLog.NoteSwapAtRestart(beside, destination)) {
    CUninstallLogger::ShowWriteError();
    return RUN_FAILED;
  }
  if (!ScheduleAtRestart(beside, destination)) {
    ShowFileInUse(destination);
    return RUN_FILES_IN_USE;
  }
  if (!SetupState::UninstallLog.LogFileCreated(destination)) {
    CUninstallLogger::ShowWriteError();
    return RUN_FAILED;
  }
  ++g_ReplacedAtRestart;
  RunLogLine("File in use: replaced at the restart", destination);
  return RUN_DONE;
}

static int EndsWith(const char* text, size_t n, const char* tail, int tailLength) {
  return n > (size_t)tailLength &&
         CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text + n - tailLength, tailLength, tail, tailLength) ==
             CSTR_EQUAL;
}

// 1 when path lies below the destination folder.
static int IsBelowMainDir(const char* path) {
  const size_t top = strlen(SetupState::InstallDir);
  return top > 0 && strlen(path) > top &&
         CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path, (int)top, SetupState::InstallDir, (int)top) ==
             CSTR_EQUAL &&
         (PathEndsWithSeparator(SetupState::InstallDir) || path[top] == '\\');
}

// What an earlier run left for later, as its log names it: old files it
// renamed aside and could not remove (QSOnnnn.tmp) go now where nothing
// holds them any more; a new file it left beside one in use (name.new) has
// its swap at the restart called off, as it would put that file over the
// one this run writes.
static void FinishWhatEarlierRunsLeft() {
  char path[PATH_BYTES];
  if (!PathJoin(path, sizeof path, SetupState::InstallDir, "Uninstall.log")) return;
  DWORD size = 0;
  char* text = ReadWholeFile(path, &size);
  if (text) text = LogTextInRunCodePage(text, &size);
  CLogLinesBackward lines;
  if (text && lines.Start(text, size))
    while (const char* file = lines.NextFile()) {
      if (!IsBelowMainDir(file) || !FileExists(file)) continue;
      const char* name = PathFileName(file);
      const size_t n = strlen(name), full = strlen(file);
      if (n > 7 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, 3, "QSO", 3) == CSTR_EQUAL &&
          EndsWith(name, n, ".tmp", 4)) {
        if (DeleteEvenReadOnly(file)) RunLogLine("Old file an earlier run left aside: removed", file);
      } else if (EndsWith(file, full, ".new", 4)) {
        char destination[PATH_BYTES];
        memcpy(destination, file, full - 4);
        destination[full - 4] = '\0';
        if (CancelScheduledMove(file, destination) == 2 && DeleteEvenReadOnly(file))
          RunLogLine("Replacement an earlier run left for the restart: called off", destination);
      }
    }
  free(text);
}

// One line's file written to its destination, or beside it where it is
// in use; each failure shown.
static RunResult InstallFile(const char* destination, const char* entry) {
  char beside[PATH_BYTES];
  int held = IsFileInUse(destination);
  if (held) {
    const RunResult room = MakeRoomForHeld(destination, beside);
    if (room != RUN_DONE) return room;
    held = strcmp(beside, destination) != 0;
  }
  const ExtractOutcome outcome = ExtractEntry(SetupState::Efs, entry, held ? beside : destination,
                                              &SetupState::UninstallLog, InstallProgressCallback);
  if (outcome != EXTRACT_DONE) {
    if (outcome == EXTRACT_CORRUPT) {
      // shown even after a cancel: the file itself is broken
      SetupState::Translations.ShowMessage(NULL, TK_INSTALLATION_FILE_IS_CORRUPT, TK_ERROR, MB_ICONERROR);
    } else if (!SetupState::CancelRequested) {
      if (outcome == EXTRACT_UNLOGGED) {
        CUninstallLogger::ShowWriteError();
      } else if (outcome == EXTRACT_DISK_FULL) {
        SetupState::Translations.ShowMessage(NULL, TK_DISK_IS_FULL, TK_ERROR, MB_ICONERROR);
      } else {
        char text[2048];
        SafeFormat(text, sizeof text, "The embedded file %s could not be found.\nInstallation will be aborted.",
                   &entry, 1);
        ShowSectionError(text);
      }
    }
    return outcome == EXTRACT_CORRUPT ? RUN_DAMAGED : RUN_FAILED;
  }
  const RunResult swapped = held ? SwapAtRestart(beside, destination) : RUN_DONE;
  if (swapped == RUN_DONE) AddInstalledBytes(SetupState::Efs.GetStoredSize(entry));
  return swapped;
}

RunResult ProcessFilesSection(const char* section) {
  // the plain [Files] runs first in every run
  if (strcmp(section, kActionSections[SECTION_FILES].Name) == 0) {
    g_ReplacedAtRestart = 0;
    FinishWhatEarlierRunsLeft();
  }
  CSectionLines lines(SECTION_FILES, section);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    char* destination = got == LINES_READY ? strdup(lines.Fields.Field[1]) : NULL;
    char* entry = NULL;
    if (destination && *destination) {
      const FilesLine fields = {lines.Fields.Field[0], strlen(lines.Fields.Field[0]), destination};
      entry = EntryNameOf(fields, destination);
    }
    const RunResult result = entry && *entry ? InstallFile(destination, entry) : FailLine();
    free(destination);
    free(entry);
    if (result != RUN_DONE) return result;
  }
  FlushInstallProgress();
  return RUN_DONE;
}

// Before the folder is known: the entry of a line is its destination's
// file name, which follows the last separator or folder placeholder;
// %APPNAME% may stand in it.
static char* EntryNameBeforeInstall(const FilesLine& fields) {
  const char* name = fields.Destination;
  for (const char* p = name; *p;) {
    if (*p == '\\' || *p == '/') {
      name = ++p;
      continue;
    }
    const PlaceholderToken* token = *p == '%' ? MatchPlaceholderToken(p) : NULL;
    if (token) {
      p += token->Length;
      if (token->AddsSeparator) name = p;
      continue;
    }
    p = MbcsNext(p);
  }
  // where the lines name their entries: the source's file name
  return SetupState::Efs.LinesNameEntries() ? EntryNameOf(fields, "") : ExpandPlaceholders(name);
}

unsigned long long FilesSectionBytes(const char* section) {
  unsigned long long total = 0;
  for (int32_t i = 0, count = SetupState::Project.GetLineCount(section); i < count; ++i) {
    char* line = ReadSectionLine(section, i);
    FilesLine fields;
    char* entry = line && SplitFilesLine(line, &fields) ? EntryNameBeforeInstall(fields) : NULL;
    const EFSENTRY* found = entry && *entry ? SetupState::Efs.FindEntry(entry) : NULL;
    // the content's size where the directory records it, else what is stored
    if (found) total += found->Size ? found->Size : found->StoredSize;
    free(entry);
    free(line);
  }
  return total;
}
