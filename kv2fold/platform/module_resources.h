// The module's own resources: its instance handle, its resource set and the
// strings loaded through that set in a language. Every layer that shows text
// or a dialog reads them here, below the entry points that open and close
// the set.
#pragma once

#include <windows.h>

#include <zqlocale/zqlocale.h>

struct ModuleResources {
  HINSTANCE moduleInstance = nullptr;  // saved at process attach
  LocaleHandle localeHandle = 0;       // open while the module is initialised
};

extern ModuleResources g_ModuleResources;

// Where the dialog templates and bitmaps of language come from.
HINSTANCE LanguageResourceModule(DWORD language) noexcept;

// Loads string id in language into buffer, at most maxChars characters plus
// a terminator (buffer holds maxChars + 1). Returns 0, or 7 (KVE_NO_STRING)
// when the string cannot be loaded; the buffer is then left as it was.
int LoadResourceString(UINT id, wchar_t* buffer, int maxChars, DWORD language) noexcept;

// Loads the format string id into buffer (at most maxChars characters), or
// fallback when the set lacks it or its format takes other arguments than
// fallback does: a translation must not make the module read arguments it
// never passed.
void LoadResourceFormat(UINT id, wchar_t* buffer, int maxChars, DWORD language, const wchar_t* fallback) noexcept;

// Loads string id (at most 254 characters) and stores a heap copy of exactly
// that text in *outString (ModuleFree releases it). Returns 0, 7 when the
// string cannot be loaded, 2 when the copy cannot be allocated; on failure
// *outString is left as it was.
int LoadResourceStringCopy(UINT id, wchar_t** outString, DWORD language) noexcept;
