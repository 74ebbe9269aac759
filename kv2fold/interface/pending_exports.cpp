// Wide entry points whose work is still to be built. Until then each refuses
// every call as a bad argument, so a host sees a clear failure.
#include "interface/kve_api.h"

extern "C" int WINAPI KVEExportToDestinationW(KVEJobHandle, const KVEExportRequest*) { return KVE_BAD_ARGUMENT; }
