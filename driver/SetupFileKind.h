// Tells what a file is from the 16 bytes at its logical end: the end of the
// file, or the start of the certificate table that code signing appended.
#pragma once
#include "efs/SetupLayout.h"

unsigned char ReadSetupFileKind(const char* path);
