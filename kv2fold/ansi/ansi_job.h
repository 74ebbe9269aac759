// A narrow export job: the wide job it forwards to and the narrow results
// handed to the host, each kept until the next call that replaces it or the
// job's end. The host's handle is a number of its own (platform/job_handles.h),
// taken only while the job is live: a stale, made-up or wide handle is
// answered 5 (null for the error text), never used as a pointer.
#pragma once

#include <windows.h>

#include "ansi/narrow_records.h"
#include "interface/kve_api.h"

struct AnsiExportJob {
  AnsiExportJob() noexcept = default;
  ~AnsiExportJob() { ReleaseNarrowResults(); }
  AnsiExportJob(const AnsiExportJob&) = delete;
  AnsiExportJob& operator=(const AnsiExportJob&) = delete;

  // Frees the narrow job record, the error text and the encoded block.
  void ReleaseNarrowResults() noexcept;
  // Frees the last encoded block through the narrow free entry.
  void ReleaseNarrowBlock() noexcept;

  DWORD hostValue = 0;             // passed to every free entry called for this job
  KVEJobHandle wideJob = nullptr;
  NarrowJobRecordCopy narrowJobRecord;  // allocated with the job, filled once the wide job exists
  ModuleBlock<char> narrowErrorText;
  KVEDestinationOptionsA* narrowBlock = nullptr;

  KVEJobHandle handle = nullptr;   // what the host holds
  AnsiExportJob* nextLive = nullptr;
};

// The narrow exports that concern a job. A job handle that names no live
// narrow job is answered 5 (null for the error text), except that
// KVETermExportDestination forwards null as the wide one does. A failed
// setup leaves null in both of the host's outputs.
int AnsiInitExportDestination(HWND parentWindow, DWORD hostValue, const KVEDestinationOptionsA* options,
                              const KVEExportInfoA* exportInfo, KVEJobHandle* outJob,
                              KVEJobRecordA** outJobRecord) noexcept;
int AnsiTermExportDestination(KVEJobHandle job, DWORD value) noexcept;
int AnsiExportToDestination(KVEJobHandle job, const KVEExportRequestA* request) noexcept;
const char* AnsiGetErrorText(KVEJobHandle job) noexcept;
int AnsiEncodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outBlock, WORD* outSize) noexcept;
int AnsiDecodeDestinationOptions(KVEJobHandle job, KVEDestinationOptionsA** outRecord) noexcept;
