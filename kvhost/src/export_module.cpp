#include "export_module.h"

#include "../resources/resource_ids.h"
#include "messages.h"

namespace {

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* slot, const std::wstring& path, const Messages& messages,
             std::wstring* error) {
  *slot = reinterpret_cast<Function>(GetProcAddress(module, name));
  if (*slot) return true;
  std::wstring wideName(name, name + strlen(name));
  *error = messages.Format(IDS_MISSING_EXPORT, path.c_str(), wideName.c_str());
  return false;
}

}  // namespace

bool ExportModule::Load(const std::wstring& path, const Messages& messages, std::wstring* error) {
  kvcommon::UniqueModule module(LoadLibraryW(path.c_str()));
  if (!module) {
    *error = messages.Format(IDS_LOAD_FAILED, path.c_str(), GetLastError());
    return false;
  }
  HMODULE h = module.get();
  if (!Resolve(h, "KVEInitializeW", &KVEInitializeW, path, messages, error) ||
      !Resolve(h, "KVETerminateW", &KVETerminateW, path, messages, error) ||
      !Resolve(h, "KVEGetExportDestinationsW", &KVEGetExportDestinationsW, path, messages, error) ||
      !Resolve(h, "KVEGetExportDestinationsExW", &KVEGetExportDestinationsExW, path, messages, error) ||
      !Resolve(h, "KVEInitExportDestinationW", &KVEInitExportDestinationW, path, messages, error) ||
      !Resolve(h, "KVEExportToDestinationW", &KVEExportToDestinationW, path, messages, error) ||
      !Resolve(h, "KVETermExportDestinationW", &KVETermExportDestinationW, path, messages, error) ||
      !Resolve(h, "KVEGetErrorTextW", &KVEGetErrorTextW, path, messages, error) ||
      !Resolve(h, "KVEEncodeDestinationOptionsW", &KVEEncodeDestinationOptionsW, path, messages, error) ||
      !Resolve(h, "KVEDecodeDestinationOptionsW", &KVEDecodeDestinationOptionsW, path, messages, error) ||
      !Resolve(h, "KVEFreeDestinationOptionsW", &KVEFreeDestinationOptionsW, path, messages, error)) {
    return false;
  }
  module_ = std::move(module);
  return true;
}

bool NarrowExportModule::Load(const std::wstring& path, const Messages& messages, std::wstring* error) {
  kvcommon::UniqueModule module(LoadLibraryW(path.c_str()));
  if (!module) {
    *error = messages.Format(IDS_LOAD_FAILED, path.c_str(), GetLastError());
    return false;
  }
  HMODULE h = module.get();
  if (!Resolve(h, "KVEInitialize", &KVEInitialize, path, messages, error) ||
      !Resolve(h, "KVETerminate", &KVETerminate, path, messages, error) ||
      !Resolve(h, "KVEGetExportDestinations", &KVEGetExportDestinations, path, messages, error) ||
      !Resolve(h, "KVEInitExportDestination", &KVEInitExportDestination, path, messages, error) ||
      !Resolve(h, "KVEExportToDestination", &KVEExportToDestination, path, messages, error) ||
      !Resolve(h, "KVETermExportDestination", &KVETermExportDestination, path, messages, error) ||
      !Resolve(h, "KVEGetErrorText", &KVEGetErrorText, path, messages, error) ||
      !Resolve(h, "KVEEncodeDestinationOptions", &KVEEncodeDestinationOptions, path, messages, error) ||
      !Resolve(h, "KVEDecodeDestinationOptions", &KVEDecodeDestinationOptions, path, messages, error) ||
      !Resolve(h, "KVEFreeDestinationOptions", &KVEFreeDestinationOptions, path, messages, error)) {
    return false;
  }
  module_ = std::move(module);
  return true;
}

std::wstring DefaultModulePath() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length < MAX_PATH ? length : 0);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + L"KV2FOLD.dll";
}
