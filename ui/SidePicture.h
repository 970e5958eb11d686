// The wizard's picture, kept in the program as a zlib stream (about a tenth
// of the bitmap's size) and made into a bitmap when the wizard opens.
#pragma once
#include <windows.h>

// The picture of resource id as a bitmap the caller deletes; NULL when the
// resource is missing or damaged (the wizard then shows no picture).
HBITMAP LoadPackedPicture(HINSTANCE instance, int id);
