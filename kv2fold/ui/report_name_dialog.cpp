#include "ui/report_name_dialog.h"

#include "interface/kve_api.h"
#include "platform/bridge.h"
#include "platform/module_resources.h"
#include "platform/wide_text.h"
#include "resources/resource_ids.h"
#include "ui/user_prompts.h"

namespace {

// The product's own caption, in every language.
constexpr wchar_t kMessageCaption[] = L"KVEFold.DLL";

// Loads string id, or takes the text the module carries itself.
void LoadOrFallback(UINT id, DWORD language, wchar_t* buffer, int capacity, const wchar_t* fallback) noexcept {
  if (LoadResourceString(id, buffer, capacity - 1, language) != KVE_OK) {
    CopyWide(buffer, static_cast<size_t>(capacity), fallback, static_cast<size_t>(capacity) - 1);
  }
}

}  // namespace

CDisplayNameDialog::CDisplayNameDialog(const wchar_t* fileName, DWORD languageIn) noexcept : language(languageIn) {
  wchar_t format[kReportNameCapacity];
  LoadResourceFormat(IDS_REPORT_NAME_LABEL, format, kReportNameCapacity - 1, LOWORD(language),
                     L"For %s:");  // fallback text the module carries itself
  FormatWide(label, kReportNameCapacity, format, fileName ? fileName : L"");
}

void CDisplayNameDialog::ReadName() noexcept {
  HWND edit = GetDlgItem(window, IDC_REPORT_NAME_EDIT);
  if (!edit) return;
  // 255 with the terminator: at most 254 characters, whatever was typed.
  BridgeSendMessage(edit, WM_GETTEXT, kReportNameCapacity - 1, reinterpret_cast<LPARAM>(name));
  for (int i = lstrlenW(name) - 1; i >= 0 && name[i] == L' '; --i) name[i] = L'\0';
}

INT_PTR CALLBACK CDisplayNameDialog::DisplayNameDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                                           LPARAM lParam) noexcept {
  if (message != WM_INITDIALOG && (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)) return FALSE;
  auto* object = BoundDialog<CDisplayNameDialog>(dialog, message, lParam);
  if (!object) return FALSE;
  if (message == WM_INITDIALOG) {
    HWND labelControl = GetDlgItem(dialog, IDC_REPORT_NAME_LABEL);
    if (labelControl) BridgeSendMessage(labelControl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(object->label));
    return TRUE;
  }
  switch (LOWORD(wParam)) {
    case IDOK: {
      object->ReadName();
      if (object->name[0] != L'\0') {
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      wchar_t text[kReportNameCapacity];
      LoadOrFallback(IDS_REPORT_NAME_EMPTY, object->language, text, kReportNameCapacity,
                     L"Report Name cannot be empty.");  // fallback text the module carries itself
      MessageBoxW(dialog, text, kMessageCaption, MB_OK | MB_ICONINFORMATION);
      return TRUE;
    }
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    case IDABORT:
      EndDialog(dialog, IDABORT);
      return TRUE;
    default:
      return FALSE;
  }
}

int AskReportName(HWND parentWindow, const wchar_t* fileName, wchar_t** nameSlot, DWORD language) noexcept {
  CDisplayNameDialog dialog(fileName, language);
  HINSTANCE resources = LanguageResourceModule(language);
  const INT_PTR result = BridgeDialogBoxParam(resources, L"IDD_REPORT_NAME", parentWindow,
                                              CDisplayNameDialog::DisplayNameDialogProc,
                                              reinterpret_cast<LPARAM>(&dialog));
  if (result == IDOK && nameSlot) {
    ModuleFree(*nameSlot);
    DupWideString(nameSlot, dialog.name);  // no memory: the slot stays empty
  }
  return static_cast<int>(result);
}

void ShowReportNameTaken(HWND parentWindow, DWORD language) noexcept {
  wchar_t text[kReportNameCapacity];
  LoadOrFallback(IDS_REPORT_NAME_TAKEN, LOWORD(language), text, kReportNameCapacity,
                 L"Report Display Name has already been used by other reports.\n"
                 L"Please enter a unique report display name.");  // fallback text the module carries itself
  MessageBoxW(parentWindow, text, kMessageCaption, MB_ICONINFORMATION);
}
