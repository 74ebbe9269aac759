// The module's calls into the locale library zqlocale-1-0.dll, which it
// imports by ordinal. Thin: they fix the arguments the module always passes.
#pragma once

#include <windows.h>

#include <zqlocale/zqlocale.h>

// Satellite names of the module's resource sets: N4KfdDEU.DLL for German.
extern const wchar_t kModuleResourcePattern[];

// Ordinal 50 with the module's instance, 0, the pattern and "the module
// carries the fallback set". 0 when the set cannot be opened.
LocaleHandle OpenModuleResources(HINSTANCE moduleInstance) noexcept;
// Ordinal 51.
void CloseModuleResources(LocaleHandle handle) noexcept;
// Ordinal 52: where the dialog templates of language come from.
HINSTANCE GetLocaleResourceModule(LocaleHandle handle, DWORD language) noexcept;
// Ordinal 53: nonzero when string id was stored, at most maxChars characters
// plus a terminator.
int LoadLocaleString(LocaleHandle handle, DWORD language, UINT id, wchar_t* buffer, int maxChars) noexcept;
// Ordinal 3.
DWORD GetLocaleUserLanguage() noexcept;
