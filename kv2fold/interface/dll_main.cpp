// The entry routine of KV2FOLD.dll.
#include <windows.h>

#include "ansi/ansi_layer.h"
#include "interface/module_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      g_ModuleState.moduleInstance = instance;
      // The module loads only if the narrow layer can start.
      return AnsiLayerProcessAttach(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      AnsiLayerProcessDetach();
      return TRUE;
    default:
      return TRUE;
  }
}
