#include "ui/Wizard.h"

#include <commctrl.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "platform/FileSystem.h"
#include "engine/InstallRun.h"
#include "engine/InstallWorker.h"
#include "engine/Sections.h"
#include "resources/resource.h"
#include "script/ActionSections.h"
#include "script/Placeholders.h"
#include "ui/ChoicePages.h"
#include "ui/MessageBoxes.h"
#include "ui/SidePicture.h"
#include "ui/WizardFiles.h"

// UI-thread state of the one wizard of the run.
static int g_Page;
static int g_Finished;
static bool g_Installing;      // while the worker installs and Cancel asks it to stop
static CDialogFrontEnd g_Reports;  // the worker's reports, to this dialog
static int g_Ending;
static bool g_SettingDefault;  // our DM_SETDEFID, WM_USER + 1 as the progress report is
static HBITMAP g_SidePicture;  // the control shows it; deleted with the dialog
static HWND g_LicenceBox, g_ProgressBar, g_ProgressLabel, g_FileFrame, g_FileLine;
static RECT g_PageTextRect;    // as the template places it; the pages of choices shorten it
static HWND g_LaunchBox;     // on the finish page when the script names a program
static int g_LaunchChosen;   // the box was ticked when Finish was pressed

int WizardLaunchChosen() { return g_LaunchChosen; }

int TakeWizardEnding() {
  int ending = g_Ending;
  g_Ending = WIZARD_NOT_ENDED;
  return ending;
}

// The texts of the pages of choices, for a table made before them.
static const char* EnglishOf(const char* key) {
  static const char* const kTexts[][2] = {
      {TK_SELECT_COMPONENTS, "Select Components"},
      {TK_SELECT_COMPONENTS_PAGE_TEXT,
       "Select the components of %APPNAME% you want to install; clear those you do not want. Click Next to continue."},
      {TK_SELECT_TASKS, "Select Additional Tasks"},
      {TK_SELECT_TASKS_PAGE_TEXT,
       "Select the additional tasks Setup should perform while installing %APPNAME%, then click Next."},
  };
  for (const auto& text : kTexts)
    if (strcmp(text[0], key) == 0) return text[1];
  return NULL;
}

// The translated text of key as a new string, expanded when asked; the
// unexpanded text when a placeholder cannot be resolved, so the user still
// reads something. NULL when memory runs out.
static char* Translated(const char* key, bool expand) {
  const char* english = EnglishOf(key);
  char* text = english ? SetupState::Translations.GetStringOr(key, english) : SetupState::Translations.GetString(key);
  char* expanded = text && expand ? ExpandPlaceholders(text) : NULL;
  if (!expanded) return text;
  free(text);
  return expanded;
}

static void SetTranslated(HWND window, const char* key, bool expand) {
  char* text = Translated(key, expand);
  if (text) SetWindowTextA(window, text);
  free(text);
}

static void SetItem(HWND dialog, int id, const char* key, bool expand) {
  SetTranslated(GetDlgItem(dialog, id), key, expand);
}

static void Show(HWND dialog, int id, bool visible) {
  ShowWindow(GetDlgItem(dialog, id), visible ? SW_SHOW : SW_HIDE);
}

static void Enable(HWND dialog, int id, bool enabled) { EnableWindow(GetDlgItem(dialog, id), enabled); }

static bool Pressable(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  return IsWindowVisible(button) && IsWindowEnabled(button);
}

// CharUpperW takes one character in place of a pointer.
static WCHAR Upper(WCHAR c) {
  LPWSTR upper = CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)));
  return static_cast<WCHAR>(reinterpret_cast<ULONG_PTR>(upper));
}

// Alt with a letter of the keyboard's own script; ideographs, kana and
// hangul (U+2E80 on) come through an input method, which Alt passes by.
static bool Markable(WCHAR c) { return c < 0x2E80 && IsCharAlphaNumericW(c); }

WCHAR AccessKeyOf(const WCHAR* label) {
  for (const WCHAR* p = label; *p; ++p) {
    if (*p != L'&') continue;
    if (p[1] == L'&') {  // "&&" shows one '&'
      ++p;
      continue;
    }
    return p[1] ? Upper(p[1]) : 0;
  }
  return 0;
}

void MarkAccessKeys(WCHAR (*labels)[kAccessKeyLabelChars], const int* groups, int count) {
  enum { kMost = 16 };
  if (count > kMost) count = kMost;
  WCHAR keys[kMost];
  // the table's own marks first: no label takes their keys
  for (int i = 0; i < count; ++i) keys[i] = AccessKeyOf(labels[i]);
  for (int i = 0; i < count; ++i) {
    if (keys[i]) continue;
    WCHAR* label = labels[i];
    const int length = lstrlenW(label);
    if (length + 2 > kAccessKeyLabelChars) continue;
    WCHAR* pick = NULL;
    for (int pass = 0; pass < 2 && !pick; ++pass) {
      for (WCHAR* p = label; *p && !pick; ++p) {
        if (!Markable(*p) || (pass == 0 && p > label && Markable(p[-1]))) continue;
        const WCHAR key = Upper(*p);
        bool taken = false;
        for (int j = 0; j < count; ++j) taken = taken || (groups[j] != groups[i] && keys[j] == key);
        if (!taken) pick = p;
      }
    }
    if (!pick) continue;
    memmove(pick + 1, pick, (length + 1 - (pick - label)) * sizeof(WCHAR));
    *pick = L'&';
    keys[i] = Upper(pick[1]);
  }
}

// The labels of the four buttons, each with its access key. Next shows one
// of the first three; a key stays the same from page to page.
static void SetButtonLabels(HWND dialog) {
  enum { NEXT, ACCEPT, FINISH, BACK, CANCEL, BROWSE, COUNT };
  static const struct {
    const char* Key;
    bool Expand;
    int Id;  // 0: another label of the Next button
  } kLabels[COUNT] = {{TK_NEXT, true, IDC_NEXT},   {TK_ACCEPT, true, 0},
                      {TK_FINISH, false, 0},      {TK_BACK, false, IDC_BACK},
                      {TK_CANCEL, false, IDC_CANCEL_INSTALL}, {TK_BROWSE, false, IDC_BROWSE}};
  static WCHAR labels[COUNT][kAccessKeyLabelChars];
  char* texts[COUNT];
  int groups[COUNT];
  for (int i = 0; i < COUNT; ++i) {
    texts[i] = Translated(kLabels[i].Key, kLabels[i].Expand);
    groups[i] = kLabels[i].Id ? kLabels[i].Id : IDC_NEXT;
    // one longer than any button shows keeps its text and gets no key
    if (!texts[i] || !MultiByteToWideChar(CP_ACP, 0, texts[i], -1, labels[i], kAccessKeyLabelChars))
      labels[i][0] = L'\0';
  }
  MarkAccessKeys(labels, groups, COUNT);
  const int next = g_Finished ? FINISH : g_Page == WIZARD_EULA ? ACCEPT : NEXT;
  for (int i = 0; i < COUNT; ++i) {
    if (!kLabels[i].Id) continue;
    const int shown = kLabels[i].Id == IDC_NEXT ? next : i;
    HWND button = GetDlgItem(dialog, kLabels[i].Id);
    if (labels[shown][0])
      SetWindowTextW(button, labels[shown]);
    else if (texts[shown])
      SetWindowTextA(button, texts[shown]);
  }
  for (char* text : texts) free(text);
}

static HWND g_ChoiceFocus;  // the first box of a page of choices that can be ticked

// Enter presses Next (Accept, Finish) on every page, Esc is Cancel; the
// keyboard starts where the page is worked: the folder's edit, or the
// button Enter presses (the progress bar while Next waits for the worker).
static void FocusPage(HWND dialog) {
  // for the dialog manager: Enter in the licence box presses a button of this id
  g_SettingDefault = true;
  SendMessageA(dialog, DM_SETDEFID, IDC_NEXT, 0);
  g_SettingDefault = false;
  HWND target = GetDlgItem(dialog, IDC_NEXT);
  if (g_ChoiceFocus)
    target = g_ChoiceFocus;
  else if (g_Page == WIZARD_DESTINATION && SetupState::AllowChangeInstallDir)
    target = GetDlgItem(dialog, IDC_DESTINATION);
  else if (g_Page >= WIZARD_INSTALLING && !g_Finished)
    target = g_ProgressBar ? g_ProgressBar : GetDlgItem(dialog, IDC_CANCEL_INSTALL);
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

static int Ask(HWND dialog, const char* key, const char* caption, UINT style) {
  return SetupState::Translations.ShowMessage(dialog, key, caption, style);
}

// Start-up does what the ending asks once the dialog is gone and the worker
// has ended: a rollback then runs once, with no button left to press and no
// quit message to close its questions.
static void EndWizard(HWND dialog, int ending) {
  g_Ending = ending;
  EndDialog(dialog, 0);
}

static void Rollback(HWND dialog) { EndWizard(dialog, WIZARD_ROLLBACK); }
static void Cancelled(HWND dialog) { EndWizard(dialog, WIZARD_CANCELLED); }

static RECT NormalRect(HWND window) {
  WINDOWPLACEMENT placement;
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  return placement.rcNormalPosition;
}

static HWND CreateRuntimeControl(HWND dialog, DWORD exStyle, const char* cls, DWORD style, int x, int y,
                                 int w, int h, const char* key) {
  HWND control = CreateDialogChild(dialog, exStyle, cls, "", style, IDC_RUNTIME, x, y, w, h);
  if (control && key) SetTranslated(control, key, false);
  return control;
}

static void DestroyLicenceBox() {
  if (g_LicenceBox) DestroyWindow(g_LicenceBox);
  g_LicenceBox = NULL;
}

static void StartWorker(HWND dialog) {
  const RECT frame = NormalRect(GetDlgItem(dialog, IDC_DESTINATION_FRAME));
  const int L = frame.left, T = frame.top, R = frame.right, B = frame.bottom;
  g_ProgressBar =
      CreateRuntimeControl(dialog, WS_EX_STATICEDGE, PROGRESS_CLASSA, 0, L, T, R - L, (B - T) / 3, TK_PROGRESS);
  g_ProgressLabel = CreateRuntimeControl(dialog, 0, "STATIC", SS_NOPREFIX, L, 200, R - L, 15, TK_INSTALL_PROGRESS);
  g_FileFrame = CreateRuntimeControl(dialog, 0, "BUTTON", BS_GROUPBOX, L, 125, R - L, 35, TK_COPYING_FILE);
  g_FileLine = CreateRuntimeControl(dialog, 0, "STATIC", SS_NOPREFIX, L + 5, 140, R - L - 10, 15, TK_COPYING_FILES);
  if (g_ProgressBar) SendMessageA(g_ProgressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

  g_Reports.SetDialog(dialog);
  g_Installing = InstallRun().Start(&g_Reports) != 0;
  if (!g_Installing) Rollback(dialog);
}

// A page of components (task 0) or tasks: the page text above, shortened
// to what it needs, and the boxes below it down to the buttons.
static void EnterChoicePage(HWND dialog, int task) {
  HWND text = GetDlgItem(dialog, IDC_PAGE_TEXT);
  RECT need = g_PageTextRect;
  const int length = GetWindowTextLengthA(text);
  char* shown = static_cast<char*>(malloc(length + 1));
  HDC dc = GetDC(text);
  if (shown && dc) {
    GetWindowTextA(text, shown, length + 1);
    HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
    DrawTextA(dc, shown, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, font);
  }
  if (dc) ReleaseDC(text, dc);
  free(shown);
  if (need.bottom > g_PageTextRect.bottom) need.bottom = g_PageTextRect.bottom;
  SetWindowPos(text, NULL, 0, 0, g_PageTextRect.right - g_PageTextRect.left, need.bottom - g_PageTextRect.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // down to the frame's bottom: the buttons stand below it
  const RECT frame = NormalRect(GetDlgItem(dialog, IDC_DESTINATION_FRAME));
  RECT area = {g_PageTextRect.left, need.bottom + 8, g_PageTextRect.right, frame.bottom};
  g_ChoiceFocus = CreateChoiceBoxes(dialog, task, area);
}

// Whether a page shows in this run: the licence when asked for, the pages of
// choices when the script has them.
static bool PageShown(int page) {
  if (page == WIZARD_EULA) return SetupState::ShowEulaPage != 0;
  if (page == WIZARD_COMPONENTS) return HasChoices(0);
  if (page == WIZARD_TASKS) return HasChoices(1);
  return true;
}

// Each page's title and text, by page.
static const char* const kPageTexts[][2] = {
    {TK_WELCOME, TK_WELCOME_PAGE_TEXT},
    {TK_EULA, TK_EULA_PAGE_TEXT},
    {TK_CHOOSE_DESITNATION_LOCATION, TK_CHOOSEDESTINATION_PAGE_TEXT},
    {TK_SELECT_COMPONENTS, TK_SELECT_COMPONENTS_PAGE_TEXT},
    {TK_SELECT_TASKS, TK_SELECT_TASKS_PAGE_TEXT},
    {TK_START_INSTALLATION, TK_STARTINSTALLATION_PAGE_TEXT},
    {TK_INSTALLING, TK_INSTALLING_PAGE_TEXT},
};

static void EnterPage(HWND dialog) {
  SetButtonLabels(dialog);
  // what a page of choices or the licence changed
  DestroyChoiceBoxes();
  g_ChoiceFocus = NULL;
  DestroyLicenceBox();  // exactly one box, however the page is entered
  SetWindowPos(GetDlgItem(dialog, IDC_PAGE_TEXT), NULL, 0, 0, g_PageTextRect.right - g_PageTextRect.left,
               g_PageTextRect.bottom - g_PageTextRect.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetTranslated(dialog, kPageTexts[g_Page][0], false);
  Show(dialog, IDC_BACK, g_Page != WIZARD_WELCOME);
  static const int kDestination[] = {IDC_BROWSE, IDC_DESTINATION_FRAME, IDC_DESTINATION};
  for (int id : kDestination) Show(dialog, id, g_Page == WIZARD_DESTINATION);
  SetItem(dialog, IDC_PAGE_TEXT, kPageTexts[g_Page][1], true);
  switch (g_Page) {
    case WIZARD_EULA: {
      const RECT text = NormalRect(GetDlgItem(dialog, IDC_PAGE_TEXT));
      const DWORD style = WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY;
      // wide, so that no character of the file is lost to the ANSI code page
      g_LicenceBox = CreateWindowExW(WS_EX_STATICEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | style, text.left,
                                     text.top + 80, text.right - text.left, text.bottom - text.top - 20, dialog,
                                     reinterpret_cast<HMENU>(IDC_RUNTIME), SetupState::Instance, NULL);
      if (g_LicenceBox) {
        SendMessageW(g_LicenceBox, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
        SendMessageW(g_LicenceBox, EM_SETLIMITTEXT, 0, 0);  // past the default 32K characters
        if (const WCHAR* licence = GetWizardLicence())
          SetWindowTextW(g_LicenceBox, licence);
        else
          SetTranslated(g_LicenceBox, TK_EULA_BOX_TEXT, true);
        // first in the tab order, before the buttons below it
        SetWindowPos(g_LicenceBox, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      }
      break;
    }
    case WIZARD_DESTINATION:
      Enable(dialog, IDC_BROWSE, SetupState::AllowChangeInstallDir != 0);
      SendDlgItemMessageA(dialog, IDC_DESTINATION, EM_SETREADONLY, SetupState::AllowChangeInstallDir ? FALSE : TRUE, 0);
      break;
    case WIZARD_COMPONENTS:
    case WIZARD_TASKS:
      EnterChoicePage(dialog, g_Page == WIZARD_TASKS);
      break;
    case WIZARD_INSTALLING:
      Enable(dialog, IDC_BACK, false);
      Enable(dialog, IDC_NEXT, false);
      StartWorker(dialog);
      break;
  }
  if (!g_Ending) FocusPage(dialog);
}

static void OnInitDialog(HWND dialog) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  SetWindowIcons(dialog, GetModuleHandleA(NULL));
  // the author's picture fills the control's box as the template sizes it
  // for this screen, centred in it; else the built-in one
  HWND picture = GetDlgItem(dialog, IDC_SIDE_PICTURE);
  RECT box = {SIDE_PICTURE_X, SIDE_PICTURE_Y, SIDE_PICTURE_X + SIDE_PICTURE_WIDTH, SIDE_PICTURE_Y + SIDE_PICTURE_HEIGHT};
  MapDialogRect(dialog, &box);
  g_SidePicture = ScaledPicture(GetWizardImage(), box.right - box.left, box.bottom - box.top);
  const bool own = g_SidePicture != NULL;
  if (!own) g_SidePicture = LoadPackedPicture(GetModuleHandleA(NULL), IDB_WIZARD);
  if (g_SidePicture)
    SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(g_SidePicture));
  BITMAP shown;
  if (own && GetObjectA(g_SidePicture, sizeof shown, &shown))
    SetWindowPos(picture, NULL, box.left + (box.right - box.left - shown.bmWidth) / 2,
                 box.top + (box.bottom - box.top - shown.bmHeight) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  g_PageTextRect = NormalRect(GetDlgItem(dialog, IDC_PAGE_TEXT));
  g_Page = WIZARD_WELCOME;
  g_Finished = 0;
  g_LaunchBox = NULL;
  g_LaunchChosen = 0;
  g_Ending = WIZARD_NOT_ENDED;
  SetItem(dialog, IDC_DESTINATION_FRAME, TK_DESTINATION_FOLDER, false);
  SetDlgItemTextA(dialog, IDC_DESTINATION, SetupState::InstallDir);
  EnterPage(dialog);
}

// The longest destination under %MAINDIR% of one section's lines, or less.
static size_t LongestNameBelowDestination(const char* files, size_t longest) {
  const char kMainDir[] = "%MAINDIR%";
  const int count = SetupState::Project.GetLineCount(files);
  for (int i = 0; i < count; ++i) {
    const int32_t n = SetupState::Project.GetLine(files, i, NULL, 0);
    char* line = n > 0 ? (char*)malloc((size_t)n) : NULL;
    if (!line) continue;
    SetupState::Project.GetLine(files, i, line, n);
    FilesLine fields;
    if (SplitFilesLine(line, &fields) && strncmp(fields.Destination, kMainDir, sizeof kMainDir - 1) == 0) {
      const char* rest = fields.Destination + sizeof kMainDir - 1;
      size_t tail = strlen(rest);
      while (tail && (rest[tail - 1] == '\r' || rest[tail - 1] == ' ')) --tail;
      tail = MbcsLength(rest, tail);  // characters, as the folder's are counted
      if (tail > longest) longest = tail;
    }
    free(line);
  }
  return longest;
}

// The longest name the installation puts below the destination folder:
// Translations.ini of the uninstaller at least, or a destination under
// %MAINDIR% that is longer, of [Files] or of any component's [Files:name]
// (the choice comes after this page).
static size_t LongestNameBelowDestination() {
  const char* files = kActionSections[SECTION_FILES].Name;
  size_t longest = LongestNameBelowDestination(files, strlen("Translations.ini"));
  for (int i = 0; i < SetupState::ChoiceCount; ++i) {
    char section[256];
    if (strlen(files) + strlen(SetupState::Choices[i].Name) + 2 > sizeof section) continue;
    wsprintfA(section, "%s:%s", files, SetupState::Choices[i].Name);
    longest = LongestNameBelowDestination(section, longest);
  }
  return longest;
}

// Room in a path buffer for everything the installation writes below
// folder: without it every file installs and then Finish fails.
static bool HasRoomBelow(const char* folder) {
  const size_t length = strlen(folder);
  const bool separator = length && (folder[length - 1] == '\\' || folder[length - 1] == '/') &&
                         MbcsFindLastChar(folder, folder[length - 1]) == folder + length - 1;
  return MbcsLength(folder, length) + (separator ? 0 : 1) + LongestNameBelowDestination() < MAX_PATH;
}

int IsUsableDestination(const char* folder) {
  return folder[0] && HasRoomBelow(folder) && CanCreateDirectoryPath(folder);
}

static void OnNext(HWND dialog) {
  if (g_Page >= WIZARD_INSTALLING) {
    if (!g_Finished) return;
    g_LaunchChosen = g_LaunchBox && SendMessageA(g_LaunchBox, BM_GETCHECK, 0, 0) == BST_CHECKED;
    // Ended from here on: a second press while a box of it is open does nothing.
    g_Ending = WIZARD_FAILED;
    EndDialog(dialog, 0);
    // A failure is reported already; start-up rolls the installation back.
    if (InstallRun().WriteUninstaller(dialog)) g_Ending = WIZARD_FINISHED;
    return;
  }
  if (g_Page == WIZARD_DESTINATION) {
    GetDlgItemTextA(dialog, IDC_DESTINATION, SetupState::InstallDir, sizeof SetupState::InstallDir);
    if (!IsUsableDestination(SetupState::InstallDir)) {
      Ask(dialog, TK_PLEASE_ENTER_PATH_TO_INSTALL_DIR, TK_INSTALL_TITLE, MB_ICONINFORMATION);
      return;
    }
    SetMainDirPlaceholder(SetupState::InstallDir);
  }
  do ++g_Page;
  while (!PageShown(g_Page));
  EnterPage(dialog);
}

static void OnBack(HWND dialog) {
  if (g_Page <= WIZARD_WELCOME || g_Page >= WIZARD_INSTALLING) return;
  do --g_Page;
  while (!PageShown(g_Page));
  EnterPage(dialog);
}

int BrowsedDestination(const char* current, const char* chosen, char* out) {
  char path[PATH_BYTES * 2];
  MbcsCopy(path, PATH_BYTES, chosen);
  if (const char* last = MbcsFindLastChar(current, '\\')) {
    const size_t n = strlen(path);
    const char* end = MbcsFindLastChar(path, '\\');
    const char* tail = (n && end == path + n - 1) ? last + 1 : last;  // E:\ + App
    strcat(path, tail);
  }
  // a rule of characters; out holds PATH_BYTES
  if (strlen(path) >= PATH_BYTES || MbcsLength(path, strlen(path)) >= MAX_PATH) return 0;
  strcpy(out, path);
  return 1;
}

static void OnBrowse(HWND dialog) {
  char title[104];
  char* text = SetupState::Translations.GetString(TK_SELECT_DIRECTORY);
  MbcsCopy(title, sizeof title, text ? text : "");
  free(text);
  char display[MAX_PATH];
  BROWSEINFOA info;
  memset(&info, 0, sizeof info);
  info.hwndOwner = dialog;
  info.pszDisplayName = display;
  info.lpszTitle = title;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (!chosen) return;

  char current[PATH_BYTES];
  GetDlgItemTextA(dialog, IDC_DESTINATION, current, PATH_BYTES);
  MbcsCopy(SetupState::InstallDir, PATH_BYTES, current);
  // wide, then to the program's code page: the narrow call gives up on a
  // path of more than MAX_PATH bytes, which a UTF-8 path of fewer
  // characters may take
  WCHAR wide[MAX_PATH];
  char path[PATH_BYTES];
  if (SHGetPathFromIDListW(chosen, wide) &&
      WideCharToMultiByte(CP_ACP, 0, wide, -1, path, sizeof path, NULL, NULL) > 0 &&
      BrowsedDestination(current, path, SetupState::InstallDir))
    SetDlgItemTextA(dialog, IDC_DESTINATION, SetupState::InstallDir);
  CoTaskMemFree(chosen);
}

static bool g_Asking;  // the cancel question is open

static bool AskToQuit(HWND dialog) {
  g_Asking = true;
  const bool yes =
      Ask(dialog, TK_DO_YOU_REALY_WANT_TO_QUIT, TK_INSTALL_TITLE, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  g_Asking = false;
  return yes;
}

static void OnCancel(HWND dialog) {
  // a close or a Cancel that comes while the question is open is answered by it
  if (g_Asking) return;
  if (g_Installing) {
    // The worker holds still at its next report while the user decides.
    InstallRun().Pause();
    if (AskToQuit(dialog)) InstallRun().Cancel();
    InstallRun().Resume();
    return;
  }
  if (AskToQuit(dialog)) Cancelled(dialog);
}

static void OnProgress(WPARAM percent, LPARAM file) {
  if (g_ProgressBar) SendMessageA(g_ProgressBar, PBM_SETPOS, percent, 0);
  if (!g_FileLine) return;
  if (file) {
    SetWindowTextA(g_FileLine, reinterpret_cast<const char*>(file));
  } else {
    if (g_FileFrame) ShowWindow(g_FileFrame, SW_HIDE);
    SetTranslated(g_FileLine, TK_FINALIZING, false);
  }
}

// The finish page says when files in use take their new versions only at
// the restart.
static void AddRestartText(HWND dialog) {
  static const char kEnglish[] =
      "Some files were in use by other programs. Their new versions are in place once the computer restarts.";
  char* done = Translated(TK_PROGRAM_WAS_SUCCESSFULLY_INSTALLED, true);
  char* restart = SetupState::Translations.GetStringOr(TK_RESTART_TO_FINISH_INSTALLATION, kEnglish);
  char* text = SafeFormatAlloc("%s\n\n%s", done ? done : "", restart ? restart : kEnglish);
  if (text) SetDlgItemTextA(dialog, IDC_PAGE_TEXT, text);
  free(text);
  free(restart);
  free(done);
}

// "Launch <App>", ticked, where the destination frame was, when the script
// names a program to start after Finish, and not when the files in use are
// replaced only at the restart; an '&' of the name stays an '&'.
static void AddLaunchBox(HWND dialog) {
  if (FilesReplacedAtRestart()) return;
  char probe[2] = "";
  if (!SetupState::Project.GetValue("Global", "RunAfterInstall", "", probe, sizeof probe)) return;
  if (!probe[0]) return;
  char* format = SetupState::Translations.GetStringOr(TK_LAUNCH_APPLICATION, "Launch %APPNAME%");
  char* text = format ? ExpandPlaceholders(format) : NULL;
  const char* shown = text ? text : format ? format : "";
  char* label = LiteralAmpersands(shown);
  const RECT frame = NormalRect(GetDlgItem(dialog, IDC_DESTINATION_FRAME));
  g_LaunchBox = CreateDialogChild(dialog, 0, "BUTTON", label ? label : shown, WS_TABSTOP | BS_AUTOCHECKBOX,
                                  IDC_LAUNCH_AFTER_INSTALL, frame.left, frame.top, frame.right - frame.left,
                                  (frame.bottom - frame.top) * 2 / 3);
  free(label);
  free(text);
  free(format);
  if (g_LaunchBox) SendMessageA(g_LaunchBox, BM_SETCHECK, BST_CHECKED, 0);
}

static void OnDone(HWND dialog, WPARAM failed) {
  g_Installing = false;  // its last report: start-up waits for the thread's end
  if (SetupState::CancelRequested) {
    Cancelled(dialog);
    return;
  }
  if (failed) {
    Rollback(dialog);
    return;
  }
  HWND progress[] = {g_ProgressLabel, g_ProgressBar, g_FileFrame, g_FileLine};
  for (HWND control : progress)
    if (control) ShowWindow(control, SW_HIDE);
  g_Finished = 1;
  SetButtonLabels(dialog);
  Enable(dialog, IDC_NEXT, true);
  SetItem(dialog, IDC_PAGE_TEXT, TK_PROGRAM_WAS_SUCCESSFULLY_INSTALLED, true);
  if (FilesReplacedAtRestart()) AddRestartText(dialog);
  AddLaunchBox(dialog);
  FocusPage(dialog);
}

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return FALSE;  // the focus is set
    case WM_COMMAND:
      if (g_Ending) return TRUE;  // ended: no button starts anything more
      switch (LOWORD(wParam)) {
        case IDC_BACK:
          OnBack(dialog);
          break;
        case IDC_NEXT:
          OnNext(dialog);
          break;
        case IDC_CANCEL_INSTALL:
          OnCancel(dialog);
          break;
        case IDC_BROWSE:
          OnBrowse(dialog);
          break;
        case IDOK:  // Enter, should no default be set
          if (Pressable(dialog, IDC_NEXT)) OnNext(dialog);
          break;
        case IDCANCEL:  // Esc, Alt+F4: only while Cancel could be pressed
          if (Pressable(dialog, IDC_CANCEL_INSTALL)) OnCancel(dialog);
          break;
        default:
          OnChoiceCommand(dialog, LOWORD(wParam));
          break;
      }
      return TRUE;
    case WM_CLOSE:  // Alt+F4, or a close from outside: the question of Cancel
      if (!g_Ending && Pressable(dialog, IDC_CANCEL_INSTALL)) OnCancel(dialog);
      return TRUE;
    case WM_INSTALL_PROGRESS:
      if (g_SettingDefault) return FALSE;
      OnProgress(wParam, lParam);
      return TRUE;
    case WM_INSTALL_DONE:
      OnDone(dialog, wParam);
      return TRUE;
    case WM_DESTROY:
      // the control does not own a picture it was given
      if (g_SidePicture) {
        SendDlgItemMessageA(dialog, IDC_SIDE_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, 0);
        DeleteObject(g_SidePicture);
        g_SidePicture = NULL;
      }
      return FALSE;
    default:
      return FALSE;
  }
}
