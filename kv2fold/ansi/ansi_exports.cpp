// The narrow exports. Each converts what it is given, calls the wide entry
// point through the layer's table and converts what comes back; thin shells
// over logic that never throws.
#include "ansi/ansi_job.h"
#include "ansi/ansi_layer.h"
#include "interface/kve_api.h"

namespace {
const WideEntryTable& Wide() noexcept { return g_AnsiLayer.wideEntries; }
}  // namespace

// Straight through: the wide answer is the answer.
extern "C" int WINAPI InitPerThread(void) { return Wide().InitPerThreadW(); }
extern "C" int WINAPI IsThreadSafe(void) { return Wide().IsThreadSafeW(); }
extern "C" int WINAPI UninitPerThread(void) { return Wide().UninitPerThreadW(); }
extern "C" int WINAPI KVEInitialize(DWORD value) { return Wide().KVEInitializeW(value); }
extern "C" int WINAPI KVETerminate(void) { return Wide().KVETerminateW(); }
extern "C" int WINAPI KVEGetVersion(void) { return Wide().KVEGetVersionW(); }

extern "C" KVEDestinationListA* WINAPI KVEGetExportDestinations(void) { return GetNarrowDestinations(); }

extern "C" int WINAPI KVEInitExportDestination(HWND parentWindow, DWORD hostValue, const KVEDestinationOptionsA* options,
                                               const KVEExportInfoA* exportInfo, KVEJobHandle* outJob,
                                               KVEJobRecordA** outJobRecord) {
  return AnsiInitExportDestination(parentWindow, hostValue, options, exportInfo, outJob, outJobRecord);
}

extern "C" int WINAPI KVETermExportDestination(KVEJobHandle job, DWORD value) {
  return AnsiTermExportDestination(job, value);
}

extern "C" int WINAPI KVEExportToDestination(KVEJobHandle job, const KVEExportRequestA* request) {
  return AnsiExportToDestination(job, request);
}

extern "C" const char* WINAPI KVEGetErrorText(KVEJobHandle job) { return AnsiGetErrorText(job); }

extern "C" int WINAPI KVEEncodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outBlock,
                                                  WORD* outSize) {
  return AnsiEncodeDestinationOptions(job, outBlock, outSize);
}

extern "C" int WINAPI KVEDecodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outRecord) {
  return AnsiDecodeDestinationOptions(job, outRecord);
}

extern "C" int WINAPI KVEFreeDestinationOptions(DWORD value, KVEDestinationOptionsA* record) {
  if (Wide().KVEFreeDestinationOptionsA) return Wide().KVEFreeDestinationOptionsA(value, record);
  // Without the narrow free the record came from the wide side unconverted.
  return Wide().KVEFreeDestinationOptionsW(value, reinterpret_cast<KVEDestinationOptions*>(record));
}
