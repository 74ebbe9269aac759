#include "ui/user_prompts.h"

#include <utility>

#include "interface/kve_api.h"
#include "platform/module_resources.h"
#include "ui/container_dialog.h"

int ChooseFolderPath(HWND parent, IMAPISession* session, const wchar_t* profileName, DWORD language,
                     ModuleBlock<wchar_t>& folderPath) noexcept {
  CMAPIContainerDlg dialog(LanguageResourceModule(LOWORD(language)), language);
  const INT_PTR answer = dialog.SelectFolder(parent, session, profileName);
  if (answer == kDialogOutOfMemory) return KVE_NO_MEMORY;
  if (answer != IDOK) return KVE_CANCELLED;
  if (!dialog.resultPath) return KVE_NO_MEMORY;
  ModuleBlock<wchar_t> copy(ModuleDupWide(dialog.resultPath.get()));
  if (!copy) return KVE_NO_MEMORY;
  folderPath = std::move(copy);
  return KVE_OK;
}
