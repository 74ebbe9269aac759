// Exports that hand a job's options to the host, encoded or decoded. Thin
// shells: nothing may unwind into the host.
#include "interface/export_guard.h"
#include "interface/export_job.h"
#include "interface/kve_api.h"
#include "options/options_encoding.h"

extern "C" int WINAPI KVEEncodeDestinationOptionsW(KVEJobHandle job, KVEDestinationOptions** outBlock, WORD* outSize) {
  ExportJob* exportJob = JobOf(job);
  if (!exportJob) return KVE_BAD_ARGUMENT;
  return GuardExport([&] { return EncodeDestinationOptions(exportJob->destination, exportJob->encodedOptions, outBlock, outSize); });
}

extern "C" int WINAPI KVEDecodeDestinationOptionsW(KVEJobHandle job, KVEDestinationOptions** outRecord) {
  ExportJob* exportJob = JobOf(job);
  if (!exportJob) return KVE_BAD_ARGUMENT;
  return GuardExport([&] { return DecodeDestinationOptions(exportJob->destination, outRecord); });
}
