/* A COM server stand-in: registering writes a marker value, unregistering
   removes it. Built three times; QS_NO_REGISTER leaves the exports out, and
   QS_NEEDS_COM makes both refuse on a thread without COM, as real servers
   that create objects do. */
#include <windows.h>
#include <objbase.h>

#ifndef QS_NO_REGISTER
#ifdef QS_NEEDS_COM
static const char kKey[] = "Software\\QuillsetTest-ComNeed";
#else
static const char kKey[] = "Software\\QuillsetTest-ComDll";
#endif

/* Whether the calling thread has COM; S_OK means it had not. */
static int ThreadHasCom(void) {
#ifdef QS_NEEDS_COM
  HRESULT hr = CoInitialize(NULL);
  if (hr == S_OK) {
    CoUninitialize();
    return 0;
  }
#endif
  return 1;
}

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) {
  HKEY key;
  DWORD one = 1;
  if (!ThreadHasCom()) return CO_E_NOTINITIALIZED;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL))
    return E_FAIL;
  RegSetValueExA(key, "Registered", 0, REG_DWORD, (const BYTE*)&one, sizeof one);
  RegCloseKey(key);
  return S_OK;
}

__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) {
  if (!ThreadHasCom()) return CO_E_NOTINITIALIZED;
  return RegDeleteKeyA(HKEY_CURRENT_USER, kKey) == ERROR_SUCCESS ? S_OK : E_FAIL;
}
#endif

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)self;
  (void)reason;
  (void)reserved;
  return TRUE;
}
