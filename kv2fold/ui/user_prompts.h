// What the rest of the module asks the user. The dialogs behind these calls
// stay inside ui/: no other subsystem includes a dialog's header or shows a
// window itself.
#pragma once

#include <windows.h>

#include <mapix.h>

#include <cstdint>

#include "platform/wide_text.h"

// The folder selection dialog over the session's stores, in language's
// resource set (low 16 bits), owned by parent. 0 with the chosen "#"-path in
// folderPath; 6 when the user cancelled or the dialog could not be shown;
// 2 when memory ran out for the dialog or the path.
int ChooseFolderPath(HWND parent, IMAPISession* session, const wchar_t* profileName, DWORD language,
                     ModuleBlock<wchar_t>& folderPath) noexcept;

// The posting kind dialog with kind preselected: 0 with the chosen kind in
// kind; 6 when cancelled or not shown, 2 when memory ran out for the dialog
// (kind unchanged).
int AskPostingKind(HWND parent, DWORD language, uint16_t& kind) noexcept;

// The report name dialog for one file: IDOK with a new name in *nameSlot
// (trimmed, not empty; an earlier name there is freed first; null when
// memory ran out), IDCANCEL to skip the file, IDABORT to end the export, -1
// when it cannot be shown, E_OUTOFMEMORY when memory ran out for the dialog.
// The slot holds null or a ModuleAlloc string.
int AskReportName(HWND parent, const wchar_t* fileName, wchar_t** nameSlot, DWORD language) noexcept;

// "Report Display Name has already been used by other reports." (string 20).
void ShowReportNameTaken(HWND parent, DWORD language) noexcept;
