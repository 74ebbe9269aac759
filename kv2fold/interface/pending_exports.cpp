// Wide entry points whose work is still to be built. Until then each refuses
// every call as a bad argument (KVEGetErrorTextW: no text) and clears its
// out-parameters, so a host sees a clear failure. Replace them one by one.
#include "interface/kve_api.h"

extern "C" int WINAPI KVEInitExportDestinationW(HWND, DWORD, const KVEDestinationOptions*, const KVEExportInfo*,
                                                KVEJobHandle* outJob, KVEJobRecord** outJobRecord) {
  if (outJob) *outJob = nullptr;
  if (outJobRecord) *outJobRecord = nullptr;
  return KVE_BAD_ARGUMENT;
}

extern "C" int WINAPI KVETermExportDestinationW(KVEJobHandle, DWORD) { return KVE_BAD_ARGUMENT; }

extern "C" int WINAPI KVEExportToDestinationW(KVEJobHandle, const KVEExportRequest*) { return KVE_BAD_ARGUMENT; }

extern "C" const wchar_t* WINAPI KVEGetErrorTextW(KVEJobHandle) { return nullptr; }

extern "C" int WINAPI KVEEncodeDestinationOptionsW(KVEJobHandle, KVEDestinationOptions** outBlock, WORD* outSize) {
  if (outBlock) *outBlock = nullptr;
  if (outSize) *outSize = 0;
  return KVE_BAD_ARGUMENT;
}

extern "C" int WINAPI KVEDecodeDestinationOptionsW(KVEJobHandle, KVEDestinationOptions** outRecord) {
  if (outRecord) *outRecord = nullptr;
  return KVE_BAD_ARGUMENT;
}
