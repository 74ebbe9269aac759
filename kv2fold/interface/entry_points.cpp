// The wide entry points of module state and destination list. Each is a thin
// shell; only the destination lists can throw (their cache growing).
#include "interface/destination_list.h"
#include "interface/export_guard.h"
#include "interface/kve_api.h"
#include "interface/module_state.h"
#include "platform/locale_library.h"

extern "C" int WINAPI KVEInitializeW(DWORD) { return InitializeModule(); }

extern "C" int WINAPI KVETerminateW(void) {
  TerminateModule();
  return KVE_OK;
}

extern "C" int WINAPI KVEGetVersionW(void) { return kInterfaceVersion; }

extern "C" KVEDestinationList* WINAPI KVEGetExportDestinationsW(void) {
  return GuardPointerExport([] { return GetExportDestinations(GetLocaleUserLanguage()); });
}

extern "C" KVEDestinationList* WINAPI KVEGetExportDestinationsExW(DWORD language) {
  return GuardPointerExport([&] { return GetExportDestinations(language); });
}

// The module is not thread-safe: the host serialises every call.
extern "C" int WINAPI IsThreadSafeW(void) { return 0; }
extern "C" int WINAPI InitPerThreadW(void) { return 0; }
extern "C" int WINAPI UninitPerThreadW(void) { return 0; }
