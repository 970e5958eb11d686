// The full-screen window behind the wizard: a vertical colour gradient with
// an optional bitmap and metafile over it, as [Background] of the script asks.
// Its state lives here, owned by the user-interface thread.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"

// Registered at start-up in every mode (icons 107/108, class name from
// SetupState::WindowClassName).
void RegisterBackgroundWindowClass(HINSTANCE instance);

// Reads [Background] from SetupState::Project and sets SetupState::UseBackground.
// When it is on, extracts the named bitmap and metafile into temporary files
// in tempDir and loads them. A missing or empty Bitmap/Metafile key means
// none. Failures show their translated message and return RUN_FAILED, or
// RUN_DAMAGED for a picture that failed its check; RUN_DONE otherwise.
RunResult ReadBackgroundSettings(const char* tempDir);

// Creates the maximised background window, shows and updates it; NULL when
// it cannot be created.
HWND CreateBackgroundWindow(HINSTANCE instance, int showCommand);

// The background window when SetupState::UseBackground is set, then the
// wizard owned by it; 1 after the wizard ends, 0 when either window cannot
// be opened (the run log says which).
int StartUserInterface(HINSTANCE instance, int showCommand);

LRESULT CALLBACK BackgroundWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A Windows metafile from a file with or without the 22-byte placeable
// header; bounds (optional) is emptied first and receives the header's box.
// NULL on any failure.
HMETAFILE LoadPlaceableMetafile(const char* path, RECT* bounds);

// Deletes the bitmap, the placement text, the metafile and the temporary
// files that are set; safe to call on every path and more than once.
void ReleaseBackgroundResources();

// What ReadBackgroundSettings left.
COLORREF GetBackgroundTopColor();
COLORREF GetBackgroundBottomColor();
HBITMAP GetBackgroundBitmap(SIZE* size);
const char* GetBackgroundPlacement();  // NULL without a bitmap
HMETAFILE GetBackgroundMetafile();
const char* GetTempBitmapPath();  // "" when there is none
const char* GetTempMetafilePath();
