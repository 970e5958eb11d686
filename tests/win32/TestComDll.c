/* A COM server stand-in: registering writes a marker value, unregistering
   removes it. Built twice; QS_NO_REGISTER leaves the exports out. */
#include <windows.h>

#ifndef QS_NO_REGISTER
static const char kKey[] = "Software\\QuillsetTest-ComDll";

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) {
  HKEY key;
  DWORD one = 1;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL))
    return E_FAIL;
  RegSetValueExA(key, "Registered", 0, REG_DWORD, (const BYTE*)&one, sizeof one);
  RegCloseKey(key);
  return S_OK;
}

__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) {
  return RegDeleteKeyA(HKEY_CURRENT_USER, kKey) == ERROR_SUCCESS ? S_OK : E_FAIL;
}
#endif

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)self;
  (void)reason;
  (void)reserved;
  return TRUE;
}
