// One entry of the setup file written out, and why not when it fails. The
// callers differ only in the message each shows for a reason.
#pragma once
#include "efs/ExeFileSystem.h"

enum ExtractOutcome {
  EXTRACT_DONE,
  EXTRACT_FAILED,     // no such entry, a target that cannot be written, a cancel
  EXTRACT_DISK_FULL,  // the target's disk filled up
  EXTRACT_CORRUPT,    // the stored bytes failed their CRC check
  EXTRACT_UNLOGGED,   // its uninstall log line could not be written: undone
};

// Extracts entry name over destination. With a logger the folders it creates
// and the file are logged. A reader failure other than a corrupt entry is
// thrown on as the EFSERROR it is.
ExtractOutcome ExtractEntry(CExeFileSystemLogged& efs, const char* name, const char* destination,
                            CUninstallLogger* logger = NULL, EFSProgressCallback progress = NULL);

// Nonzero once an extraction of this process has found a damaged entry: a
// run that then fails, fails for the setup file's damage.
int ExtractionFoundDamage();
