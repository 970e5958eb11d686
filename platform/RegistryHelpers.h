// Registry access by key paths written with "/" between key names, below an
// open key (a predefined root or a handle of the caller's). Each key name is
// opened or created in turn and every intermediate handle is closed again,
// on failure too; the caller's key is never closed.
#pragma once
#include <windows.h>

// The predefined key for "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_CONFIG" (case-sensitive); NULL for
// any other name.
HKEY RegistryRootFromName(const char* name);

// The innermost key, opened with access; NULL when a key cannot be opened.
// The caller closes the handle.
HKEY OpenRegistryPath(HKEY key, const char* path, REGSAM access);
// As OpenRegistryPath, creating (non-volatile, no class) what is missing.
HKEY CreateRegistryPath(HKEY key, const char* path, REGSAM access);

// Reads the value as it is stored into buffer and returns the length of the
// buffer's string. When the key or the value cannot be read (or the value
// does not fit), defaultValue is copied instead, zero-padded to bufferSize.
// The buffer always ends up terminated, even for a value stored without a
// terminator; bufferSize 0 writes nothing and gives 0.
int ReadRegistryString(HKEY key, const char* path, const char* valueName,
                       const char* defaultValue, char* buffer, int bufferSize);

// Writes text as REG_SZ with its terminator, creating missing keys; the
// length of text on success (so 0 for an empty text), 0 on failure.
int WriteRegistryString(HKEY key, const char* path, const char* valueName, const char* text);

// Writes a REG_DWORD into an existing key (nothing is created); 1 or 0.
int WriteRegistryDword(HKEY key, const char* path, const char* valueName, DWORD number);

// Deletes the key at path with everything below it; 1 when the key itself
// was deleted, 0 when it was missing or could not be removed.
int DeleteRegistryTree(HKEY root, const char* path);

// Deletes the key at path when it holds no key and no value; 1 when it is
// gone by this call.
int DeleteRegistryKeyIfEmpty(HKEY root, const char* path);
