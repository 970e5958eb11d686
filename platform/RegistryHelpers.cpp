#include "platform/RegistryHelpers.h"

#include <stdlib.h>
#include <string.h>

#include "common/Mbcs.h"
#include "script/ActionSections.h"

// A key name is at most 255 characters, double-byte ones included.
enum { kMaxKeyNameBytes = 2 * 255 + 1 };

enum WalkMode { kOpen, kCreate, kOpenOrCreate };

static LONG OpenOneKey(HKEY parent, const char* name, REGSAM access, HKEY* result) {
  return RegOpenKeyExA(parent, name, 0, access, result);
}

static LONG CreateOneKey(HKEY parent, const char* name, REGSAM access, HKEY* result) {
  return RegCreateKeyExA(parent, name, 0, NULL, REG_OPTION_NON_VOLATILE, access, NULL, result,
                         NULL);
}

// Opens or creates each "/"-separated key name below key in turn; the handle
// of the innermost key, or NULL. Handles along the way are closed at once.
static HKEY WalkRegistryPath(HKEY key, const char* path, REGSAM access, WalkMode mode) {
  if (!key || !path) return NULL;
  HKEY current = key;
  const char* part = path;
  for (;;) {
    const char* slash = MbcsFindChar(part, '/');
    size_t length = slash ? (size_t)(slash - part) : strlen(part);
    HKEY next = NULL;
    LONG rc = ERROR_INVALID_PARAMETER;
    if (length < kMaxKeyNameBytes) {
      char name[kMaxKeyNameBytes];
      memcpy(name, part, length);
      name[length] = '\0';
      if (mode == kCreate) {
        rc = CreateOneKey(current, name, access, &next);
      } else {
        rc = OpenOneKey(current, name, access, &next);
        if (rc != ERROR_SUCCESS && mode == kOpenOrCreate)
          rc = CreateOneKey(current, name, access, &next);
      }
    }
    if (current != key) RegCloseKey(current);
    if (rc != ERROR_SUCCESS) return NULL;
    current = next;
    if (!slash) return current;
    part = slash + 1;
  }
}

HKEY RegistryRootFromName(const char* name) {
  // in the order of the script's names
  static const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CURRENT_CONFIG};
  static_assert(sizeof kRoots / sizeof kRoots[0] == sizeof kRegistryRoots / sizeof kRegistryRoots[0], "one key a name");
  if (!name) return NULL;
  for (size_t i = 0; i < sizeof kRoots / sizeof kRoots[0]; ++i)
    if (strcmp(name, kRegistryRoots[i]) == 0) return kRoots[i];
  return NULL;
}

HKEY OpenRegistryPath(HKEY key, const char* path, REGSAM access) {
  return WalkRegistryPath(key, path, access, kOpen);
}

HKEY CreateRegistryPath(HKEY key, const char* path, REGSAM access) {
  return WalkRegistryPath(key, path, access, kCreate);
}

int ReadRegistryString(HKEY key, const char* path, const char* valueName,
                       const char* defaultValue, char* buffer, int bufferSize) {
  if (!buffer || bufferSize <= 0) return 0;
  int read = 0;
  HKEY handle = OpenRegistryPath(key, path, KEY_READ);
  if (handle) {
    DWORD size = (DWORD)bufferSize;
    if (RegQueryValueExA(handle, valueName, NULL, NULL, (BYTE*)buffer, &size) == ERROR_SUCCESS) {
      // A value may be stored without its terminator, or fill the buffer
      // exactly; the caller still gets a string.
      buffer[size < (DWORD)bufferSize ? size : (DWORD)bufferSize - 1] = '\0';
      read = 1;
    }
    RegCloseKey(handle);
  }
  if (!read) {
    strncpy(buffer, defaultValue ? defaultValue : "", (size_t)bufferSize);
    buffer[bufferSize - 1] = '\0';
  }
  return (int)strlen(buffer);
}

int WriteRegistryString(HKEY key, const char* path, const char* valueName, const char* text) {
  if (!text) return 0;
  HKEY handle = WalkRegistryPath(key, path, KEY_WRITE, kOpenOrCreate);
  if (!handle) return 0;
  size_t length = strlen(text);
  LONG rc = RegSetValueExA(handle, valueName, 0, REG_SZ, (const BYTE*)text, (DWORD)(length + 1));
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS ? (int)length : 0;
}

int WriteRegistryDword(HKEY key, const char* path, const char* valueName, DWORD number) {
  HKEY handle = OpenRegistryPath(key, path, KEY_WRITE);
  if (!handle) return 0;
  LONG rc = RegSetValueExA(handle, valueName, 0, REG_DWORD, (const BYTE*)&number, sizeof number);
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS ? 1 : 0;
}

// Deletes name below parent after its subkeys, depth first. The walk goes by
// handle rather than by path: a key name may itself hold a "/" (the MIME
// types under HKEY_CLASSES_ROOT do), which a path would split.
static int DeleteKeyTree(HKEY parent, const char* name) {
  // An empty name would open the parent itself: "Software/" must not empty
  // Software.
  if (!*name) return 0;
  HKEY key;
  if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
  DWORD subkeys = 0, longest = 0;
  if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, &longest, NULL, NULL, NULL, NULL, NULL,
                       NULL) != ERROR_SUCCESS) {
    RegCloseKey(key);
    return 0;
  }
  if (subkeys) {
    // the longest name is counted in characters; leave room for double-byte ones
    DWORD size = 2 * (longest + 1);
    char* subkey = (char*)malloc(size);
    if (!subkey) {
      RegCloseKey(key);
      return 0;
    }
    // From the last index down, so a deletion never shifts a name still to come.
    for (DWORD i = subkeys; i-- > 0;)
      if (RegEnumKeyA(key, i, subkey, size) == ERROR_SUCCESS) DeleteKeyTree(key, subkey);
    free(subkey);
  }
  RegCloseKey(key);
  // fails while anything is left below it
  return RegDeleteKeyA(parent, name) == ERROR_SUCCESS ? 1 : 0;
}

// Deletes the empty key name of parent; fails on anything left in it.
static int DeleteKeyIfEmpty(HKEY parent, const char* name) {
  if (!*name) return 0;
  HKEY key;
  if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD subkeys = 1, values = 1;
  const LONG queried = RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
  RegCloseKey(key);
  if (queried != ERROR_SUCCESS || subkeys || values) return 0;
  return RegDeleteKeyA(parent, name) == ERROR_SUCCESS ? 1 : 0;
}

// Runs remove on the last part of path, in the key above it.
static int DeleteBelowParent(HKEY root, const char* path, int (*remove)(HKEY, const char*)) {
  if (!root || !path) return 0;
  const char* slash = MbcsFindLastChar(path, '/');
  if (!slash) return remove(root, path);
  size_t parentLength = (size_t)(slash - path);
  char* parentPath = (char*)malloc(parentLength + 1);
  if (!parentPath) return 0;
  memcpy(parentPath, path, parentLength);
  parentPath[parentLength] = '\0';
  HKEY parent = OpenRegistryPath(root, parentPath, KEY_ALL_ACCESS);
  free(parentPath);
  if (!parent) return 0;
  int result = remove(parent, slash + 1);
  RegCloseKey(parent);
  return result;
}

int DeleteRegistryTree(HKEY root, const char* path) { return DeleteBelowParent(root, path, DeleteKeyTree); }

int DeleteRegistryKeyIfEmpty(HKEY root, const char* path) { return DeleteBelowParent(root, path, DeleteKeyIfEmpty); }
