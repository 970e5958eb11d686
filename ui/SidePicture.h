// The wizard's picture, kept in the program as a zlib stream (about a tenth
// of the bitmap's size) and made into a bitmap when the wizard opens.
#pragma once
#include <windows.h>

// The picture of resource id as a bitmap the caller deletes; NULL when the
// resource is missing or damaged (the wizard then shows no picture).
HBITMAP LoadPackedPicture(HINSTANCE instance, int id);

// source scaled to fit width × height with its aspect kept: a new bitmap
// the caller deletes, of the fitted size; NULL when it cannot be made.
HBITMAP ScaledPicture(HBITMAP source, int width, int height);

// The window's caption and task-bar icons: those of module (icons 107 and
// 108 of the setup file, the vendor's when the command branded it).
void SetWindowIcons(HWND window, HINSTANCE module);
