#include "ui/posting_kind_dialog.h"

#include "interface/kve_api.h"
#include "platform/bridge.h"
#include "platform/module_resources.h"
#include "resources/resource_ids.h"
#include "ui/user_prompts.h"

static_assert(IDC_KIND_PERSONAL == PersonalReport && IDC_KIND_FOLDER == FolderReport &&
                  IDC_KIND_INSTANCE == ReportInstance,
              "the kind buttons carry the kinds' numbers");

INT_PTR CALLBACK CPostingKindDialog::PostingKindDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                                           LPARAM lParam) noexcept {
  if (message != WM_INITDIALOG && (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)) return FALSE;
  auto* object = BoundDialog<CPostingKindDialog>(dialog, message, lParam);
  if (!object) return FALSE;
  if (message == WM_INITDIALOG) {
    CheckRadioButton(dialog, IDC_KIND_PERSONAL, IDC_KIND_INSTANCE, object->kind);
    return TRUE;
  }
  switch (LOWORD(wParam)) {
    case IDOK:
      for (int button = IDC_KIND_PERSONAL; button <= IDC_KIND_INSTANCE; ++button) {
        if (IsDlgButtonChecked(dialog, button) == BST_CHECKED) object->kind = static_cast<uint16_t>(button);
      }
      EndDialog(dialog, IDOK);
      return TRUE;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

int AskPostingKind(HWND parentWindow, DWORD language, uint16_t& kind) noexcept {
  CPostingKindDialog dialog(kind);
  HINSTANCE resources = LanguageResourceModule(LOWORD(language));
  const INT_PTR result = BridgeDialogBoxParam(resources, L"IDD_FOLDER_DEST_TYPE", parentWindow,
                                              CPostingKindDialog::PostingKindDialogProc,
                                              reinterpret_cast<LPARAM>(&dialog));
  if (result == kDialogOutOfMemory) return KVE_NO_MEMORY;
  if (result != IDOK) return KVE_CANCELLED;
  kind = dialog.kind;
  return KVE_OK;
}
