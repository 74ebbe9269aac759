// The wide entry points of the export job: creation, the export, destruction
// and the error text. Thin shells: what the logic throws stops at the guard.
#include "interface/export_driver.h"
#include "interface/export_guard.h"
#include "interface/export_job.h"
#include "interface/kve_api.h"

extern "C" int WINAPI KVEInitExportDestinationW(HWND parentWindow, DWORD, const KVEDestinationOptions* options,
                                                const KVEExportInfo* exportInfo, KVEJobHandle* outJob,
                                                KVEJobRecord** outJobRecord) {
  return GuardExport([&] { return InitExportDestination(parentWindow, options, exportInfo, outJob, outJobRecord); });
}

extern "C" int WINAPI KVETermExportDestinationW(KVEJobHandle job, DWORD) {
  return GuardExport([&] { return TermExportDestination(job); });
}

extern "C" int WINAPI KVEExportToDestinationW(KVEJobHandle job, const KVEExportRequest* request) {
  return GuardExport([&] { return ExportToDestination(JobOf(job), request); });
}

extern "C" const wchar_t* WINAPI KVEGetErrorTextW(KVEJobHandle job) {
  ExportJob* exportJob = JobOf(job);
  return exportJob ? exportJob->errorText : nullptr;
}
