// The install worker: the thread that carries out the script's action
// sections in their fixed order and reports to a front end.
#pragma once
#include <windows.h>

#include "engine/InstallProgress.h"

// Thread entry; the parameter is the CFrontEnd its reports go to, its end
// included (the install run, which hands them on). Always returns 0.
DWORD WINAPI InstallWorker(LPVOID reports);
