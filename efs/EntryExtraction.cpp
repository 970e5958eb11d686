#include "efs/EntryExtraction.h"

// How often an extraction calls its progress callback, in milliseconds.
static const DWORD kProgressInterval = 500;

ExtractOutcome ExtractEntry(CExeFileSystemLogged& efs, const char* name, const char* destination,
                            CUninstallLogger* logger, EFSProgressCallback progress) {
  return logger ? efs.ExtractFileLogged(name, destination, 1, progress, kProgressInterval, logger)
                : efs.ExtractFile(name, destination, 1, progress, kProgressInterval);
}
