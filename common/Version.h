// Versions as the scripts write them: dotted numbers. Portable.
#pragma once

// <0, 0 or >0 as version a is older than, the same as or newer than b.
// Each part is the number its digits start with ("1-beta" counts as 1); a
// missing part is 0, so "2.5" and "2.5.0" are the same. An empty version
// is the same as any other: there is nothing to compare.
int CompareVersions(const char* a, const char* b);
