#include <stdlib.h>

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

// The entry of a destination is its file name: drive and folders removed.
static const char* EntryNameOf(const char* destination) { return PathFileName(destination); }

// A line the installer cannot read (no comma, blank, no memory, an unknown
// placeholder) ends the section with a message instead of going on silently.
static int FailLine(char* line, char* destination) {
  free(line);
  free(destination);
  SetupState::Translations.ShowMessage(NULL, TK_UNSPECIFIED_ERROR_OCCURED, TK_ERROR, MB_ICONERROR);
  return 0;
}

int ProcessFilesSection() {
  const int32_t count = SetupState::Project.GetLineCount("Files");
  for (int32_t i = 0; i < count; ++i) {
    char* line = ReadSectionLine("Files", i);
    if (!line) return FailLine(NULL, NULL);
    FilesLine fields;
    if (!SplitFilesLine(line, &fields)) return FailLine(line, NULL);
    char* destination = ExpandPlaceholders(fields.Destination);
    if (!destination || !*destination) return FailLine(line, destination);
    const char* entry = EntryNameOf(destination);

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
          SafeFormat(text, sizeof text, "The embedded file %s could not be found.\nInstallation will be aborted.",
                     &entry, 1);
          ShowSectionError(text);
        }
      }
      free(line);
      free(destination);
      return 0;
    }
    AddInstalledBytes(SetupState::Efs.GetStoredSize(entry));
    free(line);
    free(destination);
  }
  FlushInstallProgress();
  return 1;
}
