// The setup wizard: dialog 103 with its five pages, the install worker on
// the last one, rollback on failure or cancel, the uninstaller on Finish.
#pragma once
#include <windows.h>

enum { IDD_WIZARD = 103 };

enum WizardPage {
  WIZARD_WELCOME = 0,
  WIZARD_EULA = 1,
  WIZARD_DESTINATION = 2,
  WIZARD_START = 3,
  WIZARD_INSTALLING = 4,
};

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A failure that ended the wizard after its own message (the uninstaller
// could not be written), as a QSD_EXCEPTION value; 0 when there was none.
// Read once by start-up after the dialog returns: exceptions never travel
// through the dialog manager's frames.
int TakeWizardFailure();

// The destination after the folder browser chose `chosen`: the chosen folder
// followed by the last component of `current` (from its last backslash), so
// C:\Program Files\App with D:\Apps gives D:\Apps\App and with E:\ gives
// E:\App. 0 when the result would not fit in MAX_PATH; out is then unchanged.
int BrowsedDestination(const char* current, const char* chosen, char* out);
