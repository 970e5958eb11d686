#include "efs/EntryExtraction.h"

#include "uninstall/UninstallLogger.h"

// How often an extraction calls its progress callback, in milliseconds.
static const DWORD kProgressInterval = 500;

// Set by the worker or the window's thread, read once both are done.
static volatile LONG g_DamageFound;

int ExtractionFoundDamage() { return g_DamageFound != 0; }

ExtractOutcome ExtractEntry(CExeFileSystemLogged& efs, const char* name, const char* destination,
                            CUninstallLogger* logger, EFSProgressCallback progress) {
  try {
    // a missing entry sets no error of its own
    SetLastError(NO_ERROR);
    int done = logger ? efs.ExtractFileLogged(name, destination, 1, progress, kProgressInterval, logger)
                      : efs.ExtractFile(name, destination, 1, progress, kProgressInterval);
    if (done == 1) return EXTRACT_DONE;
    const DWORD error = GetLastError();
    if (error == ERROR_UNINSTALL_LOG_NOT_WRITTEN) return EXTRACT_UNLOGGED;
    return error == ERROR_DISK_FULL ? EXTRACT_DISK_FULL : EXTRACT_FAILED;
  } catch (EFSERROR error) {
    if (error != EFS_ERR_CRC) throw;
    InterlockedExchange(&g_DamageFound, 1);
    return EXTRACT_CORRUPT;
  }
}
