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
#include "script/ActionSections.h"
#include "script/Placeholders.h"

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

RunResult ProcessFilesSection() {
  const int32_t count = SetupState::Project.GetLineCount("Files");
  for (int32_t i = 0; i < count; ++i) {
    char* line = ReadSectionLine("Files", i);
    if (!line) return FailLine(NULL, NULL);
    FilesLine fields;
    if (!SplitFilesLine(line, &fields)) return FailLine(line, NULL);
    char* destination = ExpandPlaceholders(fields.Destination);
    if (!destination || !*destination) return FailLine(line, destination);
    char* entry = EntryNameOf(fields, destination);
    if (!entry || !*entry) return FailLine(line, destination, entry);

    const ExtractOutcome outcome = ExtractEntry(SetupState::Efs, entry, destination, &SetupState::UninstallLog,
                                                InstallProgressCallback);
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
    AddInstalledBytes(SetupState::Efs.GetStoredSize(entry));
    free(line);
    free(destination);
    free(entry);
  }
  FlushInstallProgress();
  return RUN_DONE;
}
