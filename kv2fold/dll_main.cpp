// The entry routine of KV2FOLD.dll, above every layer: it hands the
// instance to the resources (platform) and starts the narrow layer (ansi).
#include <windows.h>

#include "ansi/ansi_layer.h"
#include "platform/module_resources.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      g_ModuleResources.moduleInstance = instance;
      // The module loads only if the narrow layer can start.
      return AnsiLayerProcessAttach(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      AnsiLayerProcessDetach();
      return TRUE;
    default:
      return TRUE;
  }
}
