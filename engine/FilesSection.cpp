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
#include "platform/FilesInUse.h"
#include "platform/RunLog.h"
#include "script/ActionSections.h"

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
static RunResult FailLine(char* line, char* destination, char* entry = NULL) {
  free(line);
  free(destination);
  free(entry);
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

RunResult ProcessFilesSection(const char* section) {
  // the plain [Files] runs first in every run
  if (strcmp(section, kActionSections[SECTION_FILES].Name) == 0) g_ReplacedAtRestart = 0;
  CSectionLines lines(SECTION_FILES, section);
  for (SectionLinesStatus got; (got = lines.Next()) != LINES_END;) {
    char* line = NULL;  // read and released by the loop
    char* destination = got == LINES_READY ? strdup(lines.Fields.Field[1]) : NULL;
    if (!destination || !*destination) return FailLine(line, destination);
    const FilesLine fields = {lines.Fields.Field[0], strlen(lines.Fields.Field[0]), destination};
    char* entry = EntryNameOf(fields, destination);
    if (!entry || !*entry) return FailLine(line, destination, entry);

    char beside[PATH_BYTES];
    const int held = IsFileOpenElsewhere(destination);
    if (held && !ReplacementBeside(destination, beside)) {
      free(line);
      free(destination);
      free(entry);
      return RUN_FILES_IN_USE;
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
          const char* name = entry;
          SafeFormat(text, sizeof text, "The embedded file %s could not be found.\nInstallation will be aborted.",
                     &name, 1);
          ShowSectionError(text);
        }
      }
      free(line);
      free(destination);
      free(entry);
      return outcome == EXTRACT_CORRUPT ? RUN_DAMAGED : RUN_FAILED;
    }
    if (held) {
      // the new file is logged where it is now; a rollback removes it, and
      // the swap then finds nothing to move
      if (!ScheduleAtRestart(beside, destination)) {
        ShowFileInUse(destination);
        free(line);
        free(destination);
        free(entry);
        return RUN_FILES_IN_USE;
      }
      ++g_ReplacedAtRestart;
      RunLogLine("File in use: replaced at the restart", destination);
    }
    AddInstalledBytes(SetupState::Efs.GetStoredSize(entry));
    free(line);
    free(destination);
    free(entry);
  }
  FlushInstallProgress();
  return RUN_DONE;
}
