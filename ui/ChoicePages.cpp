#include "ui/ChoicePages.h"

#include <stdlib.h>
#include <string.h>

#include "common/SafeFormat.h"
#include "common/TextKeys.h"
#include "driver/SetupState.h"
#include "resources/resource.h"

namespace {

const char kSpaceEnglish[] = "The chosen components need %s of disk space.";

HWND g_Boxes[IDC_CHOICE_LAST - IDC_CHOICE_FIRST + 1];
HWND g_SpaceLine;

void ShowSpace() {
  if (!g_SpaceLine) return;
  char size[32];
  FormatDiskSpace(ChosenComponentBytes(), size, sizeof size);
  char* format = SetupState::Translations.GetStringOr(TK_COMPONENTS_SPACE, kSpaceEnglish);
  char* text = SafeFormatAlloc(format ? format : kSpaceEnglish, size);
  if (text) SetWindowTextA(g_SpaceLine, text);
  free(text);
  free(format);
}

}  // namespace

HWND CreateDialogChild(HWND dialog, DWORD exStyle, const char* cls, const char* text, DWORD style, int id, int x,
                       int y, int w, int h) {
  HWND control = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), SetupState::Instance, NULL);
  if (control) SendMessageA(control, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), FALSE);
  return control;
}

char* LiteralAmpersands(const char* text) {
  char* doubled = static_cast<char*>(malloc(strlen(text) * 2 + 1));
  if (!doubled) return NULL;
  char* to = doubled;
  for (const char* from = text; *from; ++from)
    if ((*to++ = *from) == '&') *to++ = '&';
  *to = '\0';
  return doubled;
}

bool HasChoices(int task) {
  for (int i = 0; i < SetupState::ChoiceCount; ++i)
    if (SetupState::Choices[i].Task == task) return true;
  return false;
}

unsigned long long ChosenComponentBytes() {
  unsigned long long bytes = 0;
  for (int i = 0; i < SetupState::ChoiceCount; ++i) {
    const SetupChoice& c = SetupState::Choices[i];
    if (!c.Task && (c.Chosen || c.Fixed)) bytes += c.Bytes;
  }
  return bytes;
}

void FormatDiskSpace(unsigned long long bytes, char* out, size_t size) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  // tenths of a unit, rounded up; whole kilobytes below a megabyte
  char text[32];
  // the units are powers of two: shifts, so that a 32-bit build needs no 64-bit division
  const unsigned long long kb = (bytes + 1023) >> 10;
  if (kb < 1024) {
    wsprintfA(text, "%lu KB", static_cast<unsigned long>(kb));
    lstrcpynA(out, text, static_cast<int>(size));
    return;
  }
  int unit = 1, shift = 20;
  while (unit < 3 && bytes >> shift >= 1024) {
    shift += 10;
    ++unit;
  }
  // under 2^25 even for the largest count of bytes
  const unsigned long tenths = static_cast<unsigned long>((bytes * 10 + (1ull << shift) - 1) >> shift);
  wsprintfA(text, "%lu.%lu %s", tenths / 10, tenths % 10, kUnits[unit]);
  lstrcpynA(out, text, static_cast<int>(size));
}

HWND CreateChoiceBoxes(HWND dialog, int task, const RECT& area) {
  DestroyChoiceBoxes();
  RECT units = {0, 0, 4, 12};  // a row: a box is 10 dialog units high, 2 apart
  MapDialogRect(dialog, &units);
  const int row = units.bottom > 0 ? units.bottom : 20;
  RECT bottom = area;
  if (!task) {
    bottom.bottom -= row;  // the space line
    g_SpaceLine = CreateDialogChild(dialog, 0, "STATIC", "", SS_LEFT | SS_NOPREFIX, IDC_CHOICE_SPACE, area.left,
                                    area.bottom - row, area.right - area.left, row);
  }
  int count = 0;
  for (int i = 0; i < SetupState::ChoiceCount && i <= IDC_CHOICE_LAST - IDC_CHOICE_FIRST; ++i)
    count += SetupState::Choices[i].Task == task;
  if (bottom.bottom - bottom.top < row) bottom.top = bottom.bottom - row;  // a page text that fills the page
  const int height = bottom.bottom - bottom.top;
  const int fit = height / row > 0 ? height / row : 1;
  // more than fit in one column: two, then rows closer together
  const int columns = count > fit ? 2 : 1;
  const int rows = (count + columns - 1) / columns;
  const int step = rows > fit ? height / rows : row;
  const int width = (area.right - area.left) / columns;
  HWND first = NULL, previous = HWND_TOP;
  int n = 0;
  for (int i = 0; i < SetupState::ChoiceCount && i <= IDC_CHOICE_LAST - IDC_CHOICE_FIRST; ++i) {
    SetupChoice& c = SetupState::Choices[i];
    if (c.Task != task) continue;
    const char* text = c.Description && c.Description[0] ? c.Description : c.Name;
    // the author's "&" is shown, not made an access key (Space would press it)
    char* label = LiteralAmpersands(text);
    if (!label) continue;
    HWND box = CreateDialogChild(dialog, 0, "BUTTON", label, BS_AUTOCHECKBOX | WS_TABSTOP, IDC_CHOICE_FIRST + i,
                                 bottom.left + (n / rows) * width, bottom.top + (n % rows) * step, width - 4,
                                 row - row / 6);
    ++n;
    free(label);
    if (!box) continue;
    g_Boxes[i] = box;
    if (c.Fixed) c.Chosen = 1;
    SendMessageA(box, BM_SETCHECK, c.Chosen ? BST_CHECKED : BST_UNCHECKED, 0);
    if (c.Fixed) EnableWindow(box, FALSE);
    // before the buttons in the tab order, in the script's order
    SetWindowPos(box, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = box;
    if (!first && !c.Fixed) first = box;
  }
  ShowSpace();
  return first;
}

void DestroyChoiceBoxes() {
  for (HWND& box : g_Boxes) {
    if (box) DestroyWindow(box);
    box = NULL;
  }
  if (g_SpaceLine) DestroyWindow(g_SpaceLine);
  g_SpaceLine = NULL;
}

int OnChoiceCommand(HWND, int id) {
  const int i = id - IDC_CHOICE_FIRST;
  if (i < 0 || i >= SetupState::ChoiceCount || i > IDC_CHOICE_LAST - IDC_CHOICE_FIRST || !g_Boxes[i]) return 0;
  SetupChoice& c = SetupState::Choices[i];
  c.Chosen = c.Fixed || SendMessageA(g_Boxes[i], BM_GETCHECK, 0, 0) == BST_CHECKED;
  ShowSpace();
  return 1;
}
