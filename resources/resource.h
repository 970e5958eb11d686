// Resource ids, shared by the .rc file and the code.
#pragma once

#define IDS_WINDOW_TITLE 103
#define IDS_WINDOW_CLASS 109
#define IDS_JOIN_COPYING 110
#define IDS_JOIN_INSERT_DISK 111

#define IDI_QUILLSET 107
#define IDI_QUILLSET_SMALL 108

#define IDB_WIZARD 132

// The wizard, dialog 103.
#define IDD_WIZARD_DIALOG 103
#define IDC_BACK 1000
#define IDC_NEXT 1001
#define IDC_CANCEL_INSTALL 1002  // disabled once the files are in place
#define IDC_DESTINATION_FRAME 1004
#define IDC_BROWSE 1005
#define IDC_DESTINATION 1009
#define IDC_PAGE_TEXT 1012
#define IDC_SIDE_PICTURE 1014
// Its box in dialog units: an author's picture is scaled to fit it.
#define SIDE_PICTURE_X 10
#define SIDE_PICTURE_Y 11
#define SIDE_PICTURE_WIDTH 79
#define SIDE_PICTURE_HEIGHT 159
// Every control the wizard creates at run time.
#define IDC_RUNTIME 1234
// The boxes of the pages of components and tasks (one per choice, by its
// index in the script) and the line of the space they need.
#define IDC_CHOICE_SPACE 1099
#define IDC_CHOICE_FIRST 1100
#define IDC_CHOICE_LAST 1199
// but the finish page's box that launches the application
#define IDC_LAUNCH_AFTER_INSTALL 1241

// The uninstaller's progress dialog and its accelerators.
#define IDD_UNINSTALL_PROGRESS 137
#define IDC_UNINSTALL_TEXT 1013
#define IDR_UNINSTALL_ACCELERATORS 109
#define IDM_UNINSTALL_NOTHING 40001

// The window of a split installation's join, dialog 138.
#define IDD_SPLIT_JOIN 138
#define IDC_SPLIT_TEXT 1015

// The language dialog of a setup in several languages, dialog 139.
#define IDD_LANGUAGE 139
#define IDC_LANGUAGE_LIST 1016

// The question who a setup that lets the user choose installs for.
#define IDD_SCOPE 145
#define IDC_SCOPE_ALL_USERS 1030
#define IDC_SCOPE_JUST_ME 1031
