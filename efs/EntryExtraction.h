// One entry of the setup file written out, and why not when it fails
// (ExtractOutcome, efs/ExeFileSystem.h). The callers differ only in the
// message each shows for a reason.
#pragma once
#include "efs/ExeFileSystem.h"

// Extracts entry name over destination. With a logger the folders it creates
// and the file are logged.
ExtractOutcome ExtractEntry(CExeFileSystemLogged& efs, const char* name, const char* destination,
                            CUninstallLogger* logger = NULL, EFSProgressCallback progress = NULL);
