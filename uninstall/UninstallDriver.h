// The life of Uninstall.exe: the question, a worker that replays
// Uninstall.log while the front end shows progress, the outcome, and the
// self-removal.
#pragma once
#include <windows.h>

#include "platform/FrontEnd.h"

// Reports to `reports`, which also hears the replay's questions and
// failures for the run: the question (only where someone can answer it),
// progress (a moving bar: the replay cannot say how far it is), each
// failure once, and the end, on this thread. RUN_DONE uninstalled (the
// self-removal started), RUN_FAILED (the uninstaller, its log and its
// table stay to be run again), RUN_CANCELLED when the user said No.
RunResult RunUninstaller(CFrontEnd& reports);
