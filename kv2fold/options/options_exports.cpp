// Exports of the options record: narrow/wide conversions and the free operations.
#include "interface/kve_api.h"

// Not built yet: every call is refused as a bad argument.
extern "C" int WINAPI KVEDestinationOptionsA2W(const KVEDestinationOptionsA*, KVEDestinationOptions** outRecord,
                                               WORD*) {
  if (outRecord) *outRecord = nullptr;
  return KVE_BAD_ARGUMENT;
}
extern "C" int WINAPI KVEA2WDestinationOptions(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                                               WORD* outSize) {
  return KVEDestinationOptionsA2W(record, outRecord, outSize);
}
extern "C" int WINAPI KVEDestinationOptionsW2A(const KVEDestinationOptions*, KVEDestinationOptionsA** outRecord,
                                               WORD*) {
  if (outRecord) *outRecord = nullptr;
  return KVE_BAD_ARGUMENT;
}
extern "C" int WINAPI KVEFreeDestinationOptionsW(DWORD, KVEDestinationOptions*) { return KVE_OK; }
extern "C" int WINAPI KVEFreeDestinationOptionsA(DWORD, KVEDestinationOptionsA*) { return KVE_OK; }
