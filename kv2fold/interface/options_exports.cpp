// Exports of the options record: narrow/wide conversions and the free
// operations. Thin shells: nothing may unwind into the host, and anything
// thrown other than running out of memory answers 5.
#include "interface/export_guard.h"
#include "interface/kve_api.h"
#include "options/options_record.h"

extern "C" int WINAPI KVEDestinationOptionsA2W(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                                               WORD* outSize) {
  return GuardExport([&] { return ConvertDestinationOptions(record, outRecord, outSize); }, KVE_BAD_ARGUMENT);
}

extern "C" int WINAPI KVEA2WDestinationOptions(const KVEDestinationOptionsA* record, KVEDestinationOptions** outRecord,
                                               WORD* outSize) {
  return KVEDestinationOptionsA2W(record, outRecord, outSize);
}

extern "C" int WINAPI KVEDestinationOptionsW2A(const KVEDestinationOptions* record, KVEDestinationOptionsA** outRecord,
                                               WORD* outSize) {
  return GuardExport([&] { return ConvertDestinationOptions(record, outRecord, outSize); }, KVE_BAD_ARGUMENT);
}

extern "C" int WINAPI KVEFreeDestinationOptionsW(DWORD, KVEDestinationOptions* record) {
  return GuardExport([&] {
    FreeDestinationOptions(record);
    return KVE_OK;
  }, KVE_BAD_ARGUMENT);
}

extern "C" int WINAPI KVEFreeDestinationOptionsA(DWORD, KVEDestinationOptionsA* record) {
  return GuardExport([&] {
    FreeDestinationOptions(record);
    return KVE_OK;
  }, KVE_BAD_ARGUMENT);
}
