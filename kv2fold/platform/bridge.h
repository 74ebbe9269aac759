// System calls that carry strings, made in their wide forms on NT and in their
// narrow forms on Windows 95/98/Me, where most wide calls do not work. Callers
// pass wide strings either way and never see the difference.
#pragma once

#include <windows.h>

// TRUE when the system is of the Windows 95 family. Fixed by a static
// initialiser when the module loads, before any entry point runs.
extern BOOLEAN g_UseNarrowCalls;

// Platform identifier of the system is VER_PLATFORM_WIN32_WINDOWS. Queries the
// version once and keeps it for the life of the module.
BOOL IsNarrowPlatform() noexcept;

// Heap copies in the other character width, released with ModuleFree. Each
// returns its count including the terminator, or 0 with *copy null for a null
// source or a failure (allocation failures set ERROR_NOT_ENOUGH_MEMORY).
int NarrowDup(const wchar_t* source, char** copy, UINT codePage) noexcept;  // bytes
int WideDup(const char* source, wchar_t** copy) noexcept;                   // characters, CP_ACP

// Each wrapper takes the wide call's arguments and returns what the wide call
// would return.
LPWSTR BridgeCharUpper(LPWSTR text) noexcept;  // the message class of a posting
// On the narrow platform a path whose narrow form does not fit 520 bytes fails
// with ERROR_FILENAME_EXCED_RANGE, and one with characters that the ANSI code
// page lacks or only approximates with ERROR_NO_UNICODE_TRANSLATION; both give
// INVALID_HANDLE_VALUE.
// Used by: the posted file's source and the tagged-value files.
HANDLE BridgeCreateFile(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                        DWORD flags, HANDLE templateFile) noexcept;
// Used by: the folder selection dialog's tree window.
HWND BridgeCreateWindow(LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width, int height,
                        HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID parameter) noexcept;
// Used by: the folder selection, posting kind and report name dialogs.
INT_PTR BridgeDialogBoxParam(HINSTANCE instance, LPCWSTR dialogTemplate, HWND parent, DLGPROC procedure,
                             LPARAM parameter) noexcept;
// Used by the folder selection dialog: its caption, title text and bitmap.
int BridgeGetWindowTextLength(HWND window) noexcept;
int BridgeGetWindowText(HWND window, LPWSTR buffer, int capacity) noexcept;
HBITMAP BridgeLoadBitmap(HINSTANCE instance, LPCWSTR bitmapName) noexcept;
BOOL BridgeSetWindowText(HWND window, LPCWSTR text) noexcept;
// Used by: the dialogs' controls (texts, tree items).
LRESULT BridgeSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
