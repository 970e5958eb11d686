// A split setup's slices against the record in its first slice: the SHA-256
// of every slice, so that only the slices it was built with are joined.
#pragma once
#include <windows.h>

#include <stdint.h>

#include "efs/SetupLayout.h"
#include "efs/Sha256.h"

// What the setup program says of a damaged or mismatched setup file.
extern const char kDamagedSetupText[];

// The slice record of the open first slice (layout: its layout), in a new
// buffer the caller frees, its slice count in *count; null when it has none
// or it cannot be read.
unsigned char* ReadSliceRecordOf(HANDLE file, const SetupLayout& layout, uint32_t* count);

// 1 when the file at path hashes to digest, 0 when it does not, -1 when it
// cannot be read (the join names that failure itself).
int SliceFileMatches(const char* path, const unsigned char* digest);
