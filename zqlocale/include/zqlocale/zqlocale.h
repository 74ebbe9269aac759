// zqlocale-1-0.dll: localised resources for a calling module.
//
// A module opens its resource set once, then asks for strings and for the
// instance that holds its dialog templates, each in a language. The library
// is imported by ordinal only (NONAME exports); the names below are for the
// source. All five use the standard calling convention.
//
// Resource sets: the name pattern given at open names satellite files beside
// the calling module. "%L" stands for the language's three-letter Windows
// abbreviation (LOCALE_SABBREVLANGNAME, e.g. "DEU"), "%X" for "DLL", "%%" for
// "%"; any other character is taken as it stands. A language is served by
//   1. the satellite of exactly that language,
//   2. else the satellite of its primary language with SUBLANG_DEFAULT,
//   3. else, when the set was opened with ZQLOCALE_MODULE_FALLBACK, the
//      calling module itself, in the language of its own string table.
// A set that serves a language but lacks a string fails that string: there
// is no fall-through to the next set.
//
// Languages: the low 16 bits of the 32-bit value count. 0x0000 and 0x0400
// mean the user's language (ordinal 3), 0x0800 the system's UI language.
#pragma once

#include <windows.h>

// The handle of an open resource set: 32 bits on every architecture, 0 for
// none. Handles are never reused within a process, so a stale handle fails
// instead of reaching a set opened later.
typedef DWORD LocaleHandle;

// Last argument of LocaleOpenResources: the calling module carries the
// fallback set in its own resources.
#define ZQLOCALE_MODULE_FALLBACK 1u

// Environment variable that overrides the user's language: hexadecimal
// language identifier, e.g. KV_USER_LANGUAGE=0407 (an optional 0x is allowed).
#define ZQLOCALE_USER_LANGUAGE_VARIABLE L"KV_USER_LANGUAGE"

#ifdef __cplusplus
extern "C" {
#endif

// Ordinal 3: the user's language; KV_USER_LANGUAGE when it holds a concrete
// language, else GetUserDefaultUILanguage().
DWORD WINAPI LocaleGetUserLanguage(void);

// Ordinal 50: opens a resource set for module. reserved is ignored (callers
// pass 0). flags: 0 or ZQLOCALE_MODULE_FALLBACK. Returns 0 when module or
// namePattern is missing or the module's folder cannot be determined.
LocaleHandle WINAPI LocaleOpenResources(HINSTANCE module, DWORD reserved, const wchar_t* namePattern, DWORD flags);

// Ordinal 51: closes a set and frees the satellites it loaded. TRUE when the
// handle was open; an unknown or already closed handle is harmless.
BOOL WINAPI LocaleCloseResources(LocaleHandle handle);

// Ordinal 52: the instance that serves language (a satellite loaded as an
// image resource, or the calling module), or null when no set serves it.
HINSTANCE WINAPI LocaleGetResourceModule(LocaleHandle handle, DWORD language);

// Ordinal 53: copies string id in language into buffer, at most maxChars
// characters plus a terminator (buffer holds maxChars + 1). Returns the number
// of characters stored, or 0 when the string cannot be loaded; on 0 the
// buffer is left untouched.
int WINAPI LocaleLoadString(LocaleHandle handle, DWORD language, UINT id, wchar_t* buffer, int maxChars);

#ifdef __cplusplus
}
#endif
