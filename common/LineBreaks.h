// The line-break rule of translated texts: "|" stands for a line feed.
// Portable: no platform headers.
#pragma once

// Replaces every "|" of the zero-terminated text by a line feed, in place.
// The scan goes by characters, so the trail byte of a double-byte character
// is never taken for "|". A null text is left alone.
void ReplaceLineBreaks(char* text);
