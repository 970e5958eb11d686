// The setup wizard: dialog 103 with its pages, the install worker on
// the last one, the uninstaller on Finish; on failure or cancel it ends and
// start-up rolls back.
#pragma once
#include <windows.h>

enum WizardPage {
  WIZARD_WELCOME = 0,
  WIZARD_EULA = 1,
  WIZARD_DESTINATION = 2,
  WIZARD_COMPONENTS = 3,  // only when the script offers components
  WIZARD_TASKS = 4,       // only when it offers tasks
  WIZARD_START = 5,
  WIZARD_INSTALLING = 6,
};

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// How the wizard ended, read once by start-up after the dialog returns
// (exceptions never travel through the dialog manager's frames).
enum WizardEnding {
  WIZARD_NOT_ENDED = 0,  // not by itself: the dialog was ended from outside
  WIZARD_FINISHED,       // Finish wrote the uninstaller
  WIZARD_ROLLBACK,       // a failure the worker has reported
  WIZARD_CANCELLED,      // the user's confirmed Cancel
  WIZARD_FAILED,         // Finish failed after its own message
};
int TakeWizardEnding();
// 1 when Finish was pressed with the finish page's launch box ticked.
int WizardLaunchChosen();

// The wizard's own check of a destination folder: not empty, room below it
// for every name the installation writes there, and creatable.
int IsUsableDestination(const char* folder);

// The destination after the folder browser chose `chosen`: the chosen folder
// followed by the last component of `current` (from its last backslash), so
// C:\Program Files\App with D:\Apps gives D:\Apps\App and with E:\ gives
// E:\App. 0 when the result would not fit in MAX_PATH; out is then unchanged.
int BrowsedDestination(const char* current, const char* chosen, char* out);

// Access keys of the wizard's buttons, marked at run time so that the
// table's texts stand as they are. labels[i] (at most kAccessKeyLabelChars,
// its terminator included) gets an '&' before one of its letters; a label
// that has its own '&' keeps it. Labels of one group never show together
// and may share a key; those of different groups never do, and an earlier
// label has the first pick. A word's first letter is preferred; a label
// whose letters are all taken, or that has none typed without an input
// method, stays as it is.
enum { kAccessKeyLabelChars = 512 };
void MarkAccessKeys(WCHAR (*labels)[kAccessKeyLabelChars], const int* groups, int count);
// The key a label marks, upper case; 0 when it marks none.
WCHAR AccessKeyOf(const WCHAR* label);
