// The robot lives with the Win32 tests' support; this name stays for the
// benchmarks that include it from here.
#pragma once
#include "../win32/Robot.h"
