#include "platform/RunWait.h"

// Tab, Enter and Escape of a modeless dialog, as a modal one would take them.
static bool ForDialog(MSG* message) {
  if (!message->hwnd) return false;
  HWND root = GetAncestor(message->hwnd, GA_ROOT);
  // the dialog class's atom (WC_DIALOG)
  return root && GetClassLongPtrA(root, GCW_ATOM) == 0x8002 && IsDialogMessageA(root, message);
}

DWORD WaitForWorkerPumping(HANDLE thread, void (*tick)(void*), void* context, DWORD interval) {
  DWORD last = GetTickCount();
  bool quit = false;
  int quitCode = 0;
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, interval, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) break;
    if (woken == WAIT_FAILED) {
      WaitForSingleObject(thread, INFINITE);
      break;
    }
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
      // kept for the caller's own loop, which ends on it
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(message.wParam);
        continue;
      }
      if (ForDialog(&message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (tick && GetTickCount() - last >= interval) {
      last = GetTickCount();
      tick(context);
    }
  }
  if (quit) PostQuitMessage(quitCode);
  DWORD code = 0;
  if (!GetExitCodeThread(thread, &code)) code = 0;
  return code;
}
