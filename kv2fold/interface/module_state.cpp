#include "interface/module_state.h"

#include <cstring>

#include "interface/export_job.h"
#include "mapi/mapi_binding.h"
#include "platform/locale_library.h"
#include "platform/module_resources.h"
#include "platform/wide_text.h"
#include "resources/resource_ids.h"

ModuleState g_ModuleState;

namespace {

const char kDestinationIdentifier[8] = {'q', 'f', 'o', 'l', 'd', '\0', '\0', '\0'};

// Everything the first initialisation acquires, released while the count is
// 0 (a failed first initialisation or the last termination).
void ReleaseModuleResources() noexcept {
  ModuleState& state = g_ModuleState;
  if (g_ModuleResources.localeHandle != 0) {
    CloseModuleResources(g_ModuleResources.localeHandle);
    g_ModuleResources.localeHandle = 0;
  }
  ModuleFree(state.templateEntry.name);
  state.templateEntry.name = nullptr;
  ModuleFree(state.templateEntry.description);
  state.templateEntry.description = nullptr;
  if (g_mapiBound) UnbindMAPI();
}

}  // namespace

ModuleState::ModuleState() noexcept : templateEntry(), templateEntries{&templateEntry}, templateList() {
  templateEntry.structSize = sizeof(KVEDestinationEntry);
  templateEntry.name = nullptr;
  templateEntry.reserved = 0;
  templateEntry.description = nullptr;
  templateList.structSize = sizeof(KVEDestinationList);
  templateList.count = 1;
  templateList.entries = templateEntries;
  std::memcpy(templateList.identifier, kDestinationIdentifier, sizeof kDestinationIdentifier);
}

int InitializeModule() noexcept {
  ModuleState& state = g_ModuleState;
  if (state.initCount != 0) {
    ++state.initCount;
    return KVE_OK;
  }
  // Not checked: a set that cannot be opened shows up as missing strings.
  g_ModuleResources.localeHandle = OpenModuleResources(g_ModuleResources.moduleInstance);

  wchar_t* name = nullptr;
  int result = LoadResourceStringCopy(IDS_DESTINATION_NAME, &name, LANG_USER_DEFAULT);
  state.templateEntry.name = name;
  wchar_t description[1024];
  description[0] = L'\0';
  if (result == KVE_OK) {
    // A description that cannot be loaded stays empty; that is no failure.
    LoadResourceString(IDS_DESTINATION_DESCRIPTION, description, 1020, LANG_USER_DEFAULT);
    result = LoadResourceString(IDS_REPORT_MESSAGE_CLASS, state.reportMessageClass, kMessageClassCapacity - 1,
                                LANG_USER_DEFAULT);
  }
  if (result == KVE_OK) {
    result = LoadResourceString(IDS_DOCUMENT_MESSAGE_CLASS, state.documentMessageClass, kMessageClassCapacity - 1,
                                LANG_USER_DEFAULT);
  }
  if (result == KVE_OK) {
    state.templateEntry.description = ModuleDupWide(description);
    if (!state.templateEntry.description) result = KVE_NO_MEMORY;
  }
  if (result == KVE_OK && !BindMAPI()) result = KVE_FAILED;
  if (result == KVE_OK) {
    state.initCount = 1;
    return KVE_OK;
  }
  ReleaseModuleResources();
  return result;
}

void TerminateModule() noexcept {
  ModuleState& state = g_ModuleState;
  if (state.initCount == 0) return;
  if (--state.initCount == 0) {
    // Jobs the host forgot to end must not outlive the MAPI library they use.
    DetachLiveJobs();
    ReleaseModuleResources();
  }
}
