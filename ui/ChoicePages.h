// The wizard's pages of components and of tasks: a checkbox per choice of
// the script, its description beside it; a fixed one ticked and greyed. A
// tick takes effect on its choice at once, so Back and Next keep it.
#pragma once
#include <windows.h>
#include <stddef.h>

// Whether the script offers choices of the kind (0 components, 1 tasks).
bool HasChoices(int task);

// The boxes of the kind's choices inside area (dialog client pixels), the
// first at the top of the tab order; for components also the line of the
// space they need. Returns the first box that takes the focus, or NULL.
HWND CreateChoiceBoxes(HWND dialog, int task, const RECT& area);
void DestroyChoiceBoxes();

// A control of the dialog, in the dialog's font; NULL when it cannot be made.
HWND CreateDialogChild(HWND dialog, DWORD exStyle, const char* cls, const char* text, DWORD style, int id, int x,
                       int y, int w, int h);
// text with every '&' doubled, so that a control shows it rather than make
// it an access key; a new heap string, NULL when memory runs out.
char* LiteralAmpersands(const char* text);

// A command of control id: when it is one of the boxes, its choice takes
// the box's state (and the space line follows). 1 when it was one.
int OnChoiceCommand(HWND dialog, int id);

// What the chosen components store, in bytes.
unsigned long long ChosenComponentBytes();

// bytes as "640 KB", "12.5 MB", "1.2 GB" (rounded up: never less than is needed).
void FormatDiskSpace(unsigned long long bytes, char* out, size_t size);
