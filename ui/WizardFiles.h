// The author's licence text and side picture ([Global] LicenseFile and
// WizardImage), read from the setup file once before the wizard opens.
#pragma once
#include <windows.h>

#include "efs/EntryExtraction.h"
#include "platform/FrontEnd.h"

// Extracts and loads what the script names; a licence also shows the
// licence page. A licence that cannot be read ends the run (its message
// shown): the author asked for it to be read. A picture that cannot be
// read leaves the built-in one.
RunResult ReadWizardFiles(const char* tempDir);
// The licence as the box shows it (CR LF line ends); NULL without one.
const WCHAR* GetWizardLicence();
// The picture at its own size; NULL for the built-in one.
HBITMAP GetWizardImage();
void ReleaseWizardFiles();

// The setup file's entry in a fresh temporary file of tempDir, named
// prefix*.tmp; path (PATH_BYTES) is "" when none was made.
ExtractOutcome ExtractToTemp(const char* tempDir, const char* prefix, const char* entry, char* path);

// UTF-8 bytes (a byte-order mark dropped) as UTF-16 with every line ending
// CR LF, as an edit control breaks lines; a new string the caller frees,
// NULL when memory runs out.
WCHAR* LicenceText(const char* utf8, size_t size);
